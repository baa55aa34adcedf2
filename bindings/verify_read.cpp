#include "verify_read.hpp"

#include "pystr.hpp"
#include "verify/home.hpp"
#include "verify_text_cache.hpp"

namespace vorlane::py {

using verify::Error;
using verify::TextValue;

Keys::Keys() {
  events = PyUnicode_InternFromString("events");
  external = PyUnicode_InternFromString("external");
  written = PyUnicode_InternFromString("written");
  commands = PyUnicode_InternFromString("commands");
  tool = PyUnicode_InternFromString("tool");
  wrote = PyUnicode_InternFromString("wrote");
  payload = PyUnicode_InternFromString("payload");
  command = PyUnicode_InternFromString("command");
  output = PyUnicode_InternFromString("output");
  args = PyUnicode_InternFromString("args");
  exit_code = PyUnicode_InternFromString("exit_code");
  zero = PyLong_FromLong(0);
  zero_text = PyUnicode_InternFromString("0");
  if (PyErr_Occurred()) throw nb::python_error();
}

const Keys& keys() {
  static const Keys* k = new Keys;  // never freed: they live as long as the module
  return *k;
}

int32_t read_key(PyObject* m, PyObject* key, CallState& st, nb::object& out) {
  if (PyDict_CheckExact(m)) {
    PyObject* v = PyDict_GetItemWithError(m, key);
    if (v) {
      out = nb::borrow(v);
      return -1;
    }
    if (PyErr_Occurred()) return capture(st);
    std::string storage;
    return st.log.faults.add(Error::key(std::string(text_of(key, storage))));
  }
  PyObject* v = PyObject_GetItem(m, key);
  if (!v) return capture(st);
  out = nb::steal(v);
  return -1;
}

int32_t items_of(PyObject* v, CallState& st, nb::object& seq) {
  if (PyList_Check(v)) {
    // A copy: the caller's list may be emptied by host code run while its
    // items are converted.
    PyObject* copy = PyList_GetSlice(v, 0, PyList_GET_SIZE(v));
    if (!copy) return capture(st);
    seq = nb::steal(copy);
    return -1;
  }
  std::string msg = "'" + type_name(v) + "' object is not iterable";
  PyObject* s = PySequence_Fast(v, msg.c_str());
  if (!s) return capture(st);
  seq = nb::steal(s);
  return -1;
}

TextValue text_value(PyObject* v, const char* what, CallState& st) {
  TextValue tv;
  if (v == Py_None) return tv;  // Kind::Null
  if (PyUnicode_Check(v)) {
    auto t = st.use_cache ? NormCache::instance().get(v, st.log.home) : make_log_text(v, st.log.home);
    tv.kind = TextValue::Kind::Text;
    tv.text = t.get();
    if (st.collect) {
      st.collect->strs.push_back(nb::borrow(v));
      st.collect->texts.push_back(std::move(t));
    } else {
      st.keep.push_back(nb::borrow(v));
      st.log.texts.push_back(std::move(t));
    }
    return tv;
  }
  tv.kind = TextValue::Kind::Other;
  tv.type_fault = st.log.faults.add(Error::type(std::string(what) + " must be str or None, not " + type_name(v)));
  return tv;
}

HomeText home_text() {
  verify::HomeDirectory found = verify::home_directory();
  HomeText h;
  if (!found.path) {
    h.error = std::move(found.error);
    return h;
  }
  // The bytes as the host decodes file names (undecodable bytes as lone
  // surrogates, which travel as three-byte sequences).
  PyObject* s = PyUnicode_DecodeFSDefaultAndSize(found.path->data(), static_cast<Py_ssize_t>(found.path->size()));
  if (!s) throw nb::python_error();
  std::string storage;
  h.path = std::make_shared<const std::string>(text_of(s, storage));
  Py_DECREF(s);
  return h;
}

void set_home(CallState& st, const HomeText& home) {
  if (home.path) {
    st.log.home = NormCache::instance().home(*home.path);
    st.use_cache = true;
  } else {
    st.log.home_fault = st.log.faults.add(Error::key(home.error));
    st.use_cache = false;
  }
}

std::string home_or_raise() {
  HomeText h = home_text();
  if (!h.path) raise_error(Error::key(h.error), nullptr);
  return *h.path;
}

}  // namespace vorlane::py
