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

// The part of the str `o` whose UTF-8 text (from text_of / text_arg) is
// `whole` that `part`, a view into `whole`, covers: copied in the str's own
// representation (no UTF-8 decoding), or `o` itself when it is all of it.
nb::str slice_of(PyObject* o, std::string_view whole, std::string_view part);

// slice_of for parts given left to right: character offsets are counted
// on from the previous part, so n parts of a text cost one pass over it.
class Slicer {
 public:
  Slicer(PyObject* o, std::string_view whole) : o_(o), whole_(whole) {}
  // True when `part` lies in the text (and starts no earlier than the last).
  bool covers(std::string_view part) const;
  nb::str operator()(std::string_view part);

 private:
  PyObject* o_;
  std::string_view whole_;
  std::size_t byte_ = 0, chars_ = 0;  // a known byte offset and its character offset
};

// A new Python list of str.
nb::list to_list(const std::vector<std::string>& v);

}  // namespace vorlane::py
