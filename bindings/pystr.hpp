// Conversions between Python str and the core's UTF-8 texts.
//
// A Python str may hold lone surrogates (text decoded with surrogateescape,
// JSON with "\ud800"); they travel through the core as three-byte sequences
// and come back unchanged, so no character is ever lost or replaced.
#pragma once

#include <Python.h>
#include <nanobind/nanobind.h>

#include <string>
#include <string_view>
#include <vector>

namespace vorlane::py {

namespace nb = nanobind;

// UTF-8 bytes of `o`, which must be a str.  For ordinary strings the view
// points into the str object itself (valid while `o` lives); strings with
// lone surrogates are encoded into `storage`.  Raises TypeError naming
// `what` for anything else.
std::string_view text_arg(PyObject* o, const char* what, std::string& storage);

// Same, without the type check (the caller knows it is a str).
std::string_view text_of(PyObject* o, std::string& storage);

// A new Python str from core text (surrogates restored).
nb::str to_str(std::string_view s);

// A new Python list of str.
nb::list to_list(const std::vector<std::string>& v);

}  // namespace vorlane::py
