// Reading the caller's values as Python reads them: key lookups, the items
// of a traversable value, texts, and the home directory's text.
//
// Host code may run inside any of these (a mapping's __getitem__, a key's
// __eq__, an iterator), and it may change or drop anything, other threads
// included.  So every value handed out is a strong reference, and the items
// of a list are a copy taken before any of them is read.
#pragma once

#include <Python.h>
#include <nanobind/nanobind.h>

#include <memory>
#include <string>

#include "verify_call_state.hpp"

namespace vorlane::py {

// Interned key objects, made once.
struct Keys {
  PyObject *events, *external, *written, *commands, *tool, *wrote, *payload, *command, *output, *args,
      *exit_code, *zero, *zero_text;
  Keys();
};
const Keys& keys();

// m[key] as Python's subscription reads it; returns a fault index (the
// error the subscription raises, recorded in `st`) or -1.
int32_t read_key(PyObject* m, PyObject* key, CallState& st, nb::object& out);

// The items of a traversable value, held by `seq` and by nobody else that
// host code can reach: a tuple as it is, a list copied, any other iterable
// materialised.  Returns a fault index (a value that cannot be traversed)
// or -1.
int32_t items_of(PyObject* v, CallState& st, nb::object& seq);

// A value that the rules read as a text.  `what` names it in the type error
// raised if it is used while being neither a str nor None.
verify::TextValue text_value(PyObject* v, const char* what, CallState& st);

// The home directory's text (the host's decoding of its bytes), or a
// KeyError-to-be saying why there is none.
struct HomeText {
  std::shared_ptr<const std::string> path;
  std::string error;
};
HomeText home_text();

// Prepares `st` for the home directory of this call.
void set_home(CallState& st, const HomeText& home);

// The home directory's text, or the KeyError saying why there is none.
std::string home_or_raise();

}  // namespace vorlane::py
