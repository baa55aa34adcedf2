// Host values -> the verdict core's run log, with Python's value semantics.
//
// Everything that reads a Python value runs here, with the GIL held: key
// lookups, truth values, comparisons with 0 and "0", str(), the JSON text of
// action arguments.  A failure is not raised on the spot; it is captured
// (the exception object itself, or a KeyError/TypeError to make) and recorded
// as a fault of the run log at the place where it happened, and the core
// raises it when the rules first read that value, so that the exception a
// caller sees, and when, is exactly that of a plain Python run of the rules.
#pragma once

#include <Python.h>
#include <nanobind/nanobind.h>

#include <memory>
#include <string>
#include <vector>

#include "json/json_text.hpp"
#include "verify/errors.hpp"
#include "verify/runlog.hpp"

namespace vorlane::py {

namespace nb = nanobind;

// An exception captured from the host, to be raised again unchanged.
struct CapturedError {
  nb::object type, value, traceback;
};

// The texts met while converting one list, and whether the conversion may
// be reused by later calls (see ListSnapshot in verify_convert.cpp).
struct Collect {
  std::vector<std::shared_ptr<const verify::LogText>> texts;
  std::vector<nb::object> strs;
  bool reusable = true;
};

struct ListSnapshot;

// What one call converts and keeps.
struct CallState {
  verify::RunLog log;
  std::vector<CapturedError> captured;
  std::vector<nb::object> keep;  // the str objects whose text the log refers to
  bool use_cache = true;         // false when there is no home directory
  Collect* collect = nullptr;    // where text_value() registers texts, when set
  std::vector<std::shared_ptr<ListSnapshot>> snapshots;  // reused conversions in use
};

// Moves the current Python error into `st` and records it as a fault.
int32_t capture(CallState& st);

// Sets the Python error for `e` and throws nb::python_error.
[[noreturn]] void raise_error(const verify::Error& e, CallState* st);

// The home directory that "~" stands for, as os.path.expanduser("~") finds
// it: $HOME when set (even empty), else the account database; trailing "/"
// removed, an empty result reads as "/".  `error` is set when neither gives
// one.
struct HomeLookup {
  std::shared_ptr<const std::string> path;
  std::string error;
};
HomeLookup find_home();

// Prepares `st` for the home directory of this call.
void set_home(CallState& st, const HomeLookup& home);

// A value that the rules read as a text.  `what` names it in the type error
// raised if it is used while being neither a str nor None.
verify::TextValue text_value(PyObject* v, const char* what, CallState& st);

// The JSON value of `root` as json.dumps() sees it; returns a fault index
// (the error json.dumps() would raise) or -1.
int32_t to_json(PyObject* root, json::Value& out, CallState& st);

// Converts the run-log mapping `L` (a dict) into st.log.
void convert_log(PyObject* L, CallState& st);

// Drops every kept conversion (for tests and tools).
void clear_snapshots();
std::size_t snapshot_count();

}  // namespace vorlane::py
