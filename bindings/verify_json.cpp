// The order of the checks, the error messages and the handling of
// subclasses follow the standard serializer's C accelerator: None, True,
// False, str, int, float, list/tuple, dict; int and float subclasses are
// written with int's and float's own repr; a dict's members come from its
// items(); keys may be str, float, True/False/None or int.
#include "verify_json.hpp"

#include <cmath>
#include <string>
#include <tuple>
#include <unordered_set>
#include <utility>
#include <vector>

#include "pystr.hpp"

namespace vorlane::py {

namespace {

bool int_text(PyObject* o, std::string& out) {
  PyObject* r = PyLong_Type.tp_repr(o);
  if (!r) return false;
  std::string storage;
  out = std::string(text_of(r, storage));
  Py_DECREF(r);
  return true;
}

bool float_text(PyObject* o, std::string& out) {
  double d = PyFloat_AS_DOUBLE(o);
  if (!std::isfinite(d)) {
    out = json::float_json(d);
    return true;
  }
  PyObject* r = PyFloat_Type.tp_repr(o);
  if (!r) return false;
  std::string storage;
  out = std::string(text_of(r, storage));
  Py_DECREF(r);
  return true;
}

// A key of a member as the serializer writes it; false with a Python error
// set when it cannot be one.
bool key_text(PyObject* key, std::string& out) {
  if (PyUnicode_Check(key)) {
    std::string storage;
    out = std::string(text_of(key, storage));
    return true;
  }
  if (PyFloat_Check(key)) return float_text(key, out);
  if (key == Py_True) { out = "true"; return true; }
  if (key == Py_False) { out = "false"; return true; }
  if (key == Py_None) { out = "null"; return true; }
  if (PyLong_Check(key)) return int_text(key, out);
  PyErr_Format(PyExc_TypeError, "keys must be str, int, float, bool or None, not %.100s", Py_TYPE(key)->tp_name);
  return false;
}

// A container being written.  `seq` is the list or tuple itself, or the
// list of a dict's items; its size is read again at every step, as the
// serializer does, since host code may change it meanwhile.
struct Frame {
  nb::object container;  // held, so that its address stays its own (cycle check)
  nb::object seq;
  Py_ssize_t next;
  json::Value* target;
  bool is_dict;
};

}  // namespace

int32_t to_json(PyObject* root, json::Value& out, CallState& st) {
  std::vector<Frame> stack;
  std::unordered_set<PyObject*> open;  // containers being written (cycle check)
  const int depth_limit = Py_GetRecursionLimit();

  // Writes `o` into `*t`, or opens it as a new frame.  False with a Python
  // error set on failure.
  auto visit = [&](PyObject* o, json::Value* t) -> bool {
    if (o == Py_None) { *t = json::Value::null(); return true; }
    if (o == Py_True) { *t = json::Value::boolean(true); return true; }
    if (o == Py_False) { *t = json::Value::boolean(false); return true; }
    if (PyUnicode_Check(o)) {
      std::string storage;
      *t = json::Value::string(std::string(text_of(o, storage)));
      return true;
    }
    if (PyLong_Check(o)) {
      std::string digits;
      if (!int_text(o, digits)) return false;
      *t = json::Value::integer(std::move(digits));
      return true;
    }
    if (PyFloat_Check(o)) {
      *t = json::Value::number(PyFloat_AS_DOUBLE(o));
      return true;
    }
    bool is_list = PyList_Check(o) || PyTuple_Check(o);
    bool is_dict = !is_list && PyDict_Check(o);
    if (!is_list && !is_dict) {
      std::string msg = "Object of type " + type_name(o) + " is not JSON serializable";
      PyErr_SetString(PyExc_TypeError, msg.c_str());
      return false;
    }
    if (static_cast<int>(stack.size()) >= depth_limit) {
      PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded while encoding a JSON object");
      return false;
    }
    if (is_list) {
      *t = json::Value::array();
      Py_ssize_t n = PySequence_Fast_GET_SIZE(o);
      if (n == 0) return true;
      if (open.count(o)) {
        PyErr_SetString(PyExc_ValueError, "Circular reference detected");
        return false;
      }
      open.insert(o);
      t->items.reserve(static_cast<std::size_t>(n));  // the size it has now
      stack.push_back({nb::borrow(o), nb::borrow(o), 0, t, false});
      return true;
    }
    *t = json::Value::object();
    if (PyDict_GET_SIZE(o) == 0) return true;
    if (open.count(o)) {
      PyErr_SetString(PyExc_ValueError, "Circular reference detected");
      return false;
    }
    nb::object holder = nb::borrow(o);  // items() may drop the last other reference
    PyObject* items = PyMapping_Items(o);
    if (!items) return false;
    open.insert(o);
    t->members.reserve(static_cast<std::size_t>(PyList_GET_SIZE(items)));
    stack.push_back({std::move(holder), nb::steal(items), 0, t, true});
    return true;
  };

  if (!visit(root, &out)) return capture(st);
  while (!stack.empty()) {
    Frame& f = stack.back();
    PyObject* seq = f.seq.ptr();
    if (f.next >= PySequence_Fast_GET_SIZE(seq)) {
      open.erase(f.container.ptr());
      stack.pop_back();
      continue;
    }
    // The item, held while it is written.
    nb::object item = nb::borrow(PySequence_Fast_GET_ITEM(seq, f.next));
    ++f.next;
    PyObject* child;
    json::Value* target;
    if (!f.is_dict) {
      child = item.ptr();
      target = &f.target->items.emplace_back();  // built in place: no temporary to destroy
    } else {
      PyObject* pair = item.ptr();
      if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2) {
        PyErr_SetString(PyExc_ValueError, "items must return 2-tuples");
        return capture(st);
      }
      std::string key;
      if (!key_text(PyTuple_GET_ITEM(pair, 0), key)) return capture(st);
      child = PyTuple_GET_ITEM(pair, 1);  // held by the tuple, held by `item`
      target = &f.target->members.emplace_back(std::piecewise_construct, std::forward_as_tuple(std::move(key)),
                                               std::forward_as_tuple()).second;
    }
    // `visit` may grow `stack`: `f` is not used after this.  `target` stays
    // valid: its container grows only once the frames above it are done.
    if (!visit(child, target)) return capture(st);
  }
  return -1;
}

}  // namespace vorlane::py
