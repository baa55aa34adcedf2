// What one call of the verdict module converts and keeps, and how the
// failures met on the way reach the caller.
//
// A failure while reading the caller's values is not raised on the spot: it
// is captured (the exception object itself, or a KeyError/TypeError to
// make) and recorded as a fault of the run log where it happened, and the
// core raises it when the rules first read that value, so that the
// exception a caller sees, and when, is that of a plain Python run of the
// rules.
#pragma once

#include <Python.h>
#include <nanobind/nanobind.h>

#include <memory>
#include <string>
#include <vector>

#include "verify/errors.hpp"
#include "verify/runlog.hpp"

namespace vorlane::py {

namespace nb = nanobind;

// An exception captured from the host, to be raised again unchanged.
struct CapturedError {
  nb::object type, value, traceback;
};

// The texts met while converting one list, and whether the conversion may
// be reused by later calls (see verify_list_cache.hpp).
struct Collect {
  std::vector<std::shared_ptr<const verify::LogText>> texts;
  std::vector<nb::object> strs;
  bool reusable = true;
};

struct ListSnapshot;

struct CallState {
  verify::RunLog log;
  std::vector<CapturedError> captured;
  std::vector<nb::object> keep;  // the str objects whose text the log refers to
  bool use_cache = true;         // false when there is no home directory
  Collect* collect = nullptr;    // where text_value() registers texts, when set
  std::vector<std::shared_ptr<ListSnapshot>> snapshots;  // reused conversions in use
};

// The name of `o`'s type, as the host's messages write it.
std::string type_name(PyObject* o);

// Moves the current Python error into `st` and records it as a fault.
int32_t capture(CallState& st);

// Sets the Python error for `e` and throws nb::python_error.
[[noreturn]] void raise_error(const verify::Error& e, CallState* st);

// Raises TypeError with `msg`.
[[noreturn]] void type_error(const std::string& msg);

}  // namespace vorlane::py
