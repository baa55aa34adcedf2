#include "pystr.hpp"

#include <vector>

#include "text/utf8.hpp"

namespace vorlane::py {

std::string_view text_of(PyObject* o, std::string& storage) {
  Py_ssize_t n = 0;
  const char* p = PyUnicode_AsUTF8AndSize(o, &n);
  if (p) return std::string_view(p, static_cast<std::size_t>(n));
  // Lone surrogates cannot be encoded strictly; keep them as three bytes.
  PyErr_Clear();
  PyObject* b = PyUnicode_AsEncodedString(o, "utf-8", "surrogatepass");
  if (!b) throw nb::python_error();
  storage.assign(PyBytes_AS_STRING(b), static_cast<std::size_t>(PyBytes_GET_SIZE(b)));
  Py_DECREF(b);
  return storage;
}

std::string_view text_arg(PyObject* o, const char* what, std::string& storage) {
  if (!PyUnicode_Check(o)) {
    PyErr_Format(PyExc_TypeError, "%s must be str, not %.200s", what, Py_TYPE(o)->tp_name);
    throw nb::python_error();
  }
  return text_of(o, storage);
}

nb::str to_str(std::string_view s) {
  PyObject* o = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "surrogatepass");
  if (!o) throw nb::python_error();
  return nb::steal<nb::str>(o);
}

nb::str slice_of(PyObject* o, std::string_view whole, std::string_view part) {
  if (part.size() == whole.size()) return nb::borrow<nb::str>(o);
  auto b = static_cast<std::size_t>(part.data() - whole.data());
  std::size_t e = b + part.size();
  if (!PyUnicode_IS_ASCII(o)) {  // byte offsets to character offsets
    std::size_t cb = utf8::length(whole.substr(0, b));
    e = cb + utf8::length(part);
    b = cb;
  }
  PyObject* r = PyUnicode_Substring(o, static_cast<Py_ssize_t>(b), static_cast<Py_ssize_t>(e));
  if (!r) throw nb::python_error();
  return nb::steal<nb::str>(r);
}

bool Slicer::covers(std::string_view part) const {
  return part.data() >= whole_.data() + byte_ && part.data() + part.size() <= whole_.data() + whole_.size();
}

nb::str Slicer::operator()(std::string_view part) {
  auto b = static_cast<std::size_t>(part.data() - whole_.data());
  std::size_t e = b + part.size();
  std::size_t cb = b, ce = e;
  if (!PyUnicode_IS_ASCII(o_)) {
    chars_ += utf8::length(whole_.substr(byte_, b - byte_));
    cb = chars_;
    ce = cb + utf8::length(part);
    byte_ = b;
  }
  PyObject* r = PyUnicode_Substring(o_, static_cast<Py_ssize_t>(cb), static_cast<Py_ssize_t>(ce));
  if (!r) throw nb::python_error();
  return nb::steal<nb::str>(r);
}

nb::list to_list(const std::vector<std::string>& v) {
  PyObject* l = PyList_New(static_cast<Py_ssize_t>(v.size()));
  if (!l) throw nb::python_error();
  nb::list out = nb::steal<nb::list>(l);
  for (std::size_t i = 0; i < v.size(); ++i) {
    nb::str s = to_str(v[i]);
    PyList_SET_ITEM(l, static_cast<Py_ssize_t>(i), s.release().ptr());
  }
  return out;
}

}  // namespace vorlane::py
