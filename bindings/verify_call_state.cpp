#include "verify_call_state.hpp"

#include "pystr.hpp"

namespace vorlane::py {

using verify::Error;

std::string type_name(PyObject* o) {
  PyObject* n = PyType_GetName(Py_TYPE(o));
  if (!n) {
    PyErr_Clear();
    return Py_TYPE(o)->tp_name;
  }
  std::string storage;
  std::string s(text_of(n, storage));
  Py_DECREF(n);
  return s;
}

int32_t capture(CallState& st) {
  PyObject *t = nullptr, *v = nullptr, *tb = nullptr;
  PyErr_Fetch(&t, &v, &tb);
  PyErr_NormalizeException(&t, &v, &tb);
  if (tb && v) PyException_SetTraceback(v, tb);
  st.captured.push_back({nb::steal(t), nb::steal(v), nb::steal(tb)});
  return st.log.faults.add(Error(Error::Kind::Host, "host exception", static_cast<int>(st.captured.size() - 1)));
}

void raise_error(const Error& e, CallState* st) {
  switch (e.kind()) {
    case Error::Kind::Key: {
      nb::str k = to_str(e.what());
      PyErr_SetObject(PyExc_KeyError, k.ptr());
      break;
    }
    case Error::Kind::Type: PyErr_SetString(PyExc_TypeError, e.what()); break;
    case Error::Kind::Value: PyErr_SetString(PyExc_ValueError, e.what()); break;
    case Error::Kind::Recursion: PyErr_SetString(PyExc_RecursionError, e.what()); break;
    case Error::Kind::Host: {
      CapturedError& c = st->captured.at(static_cast<std::size_t>(e.host()));
      PyErr_Restore(c.type.release().ptr(), c.value.release().ptr(), c.traceback.release().ptr());
      break;
    }
  }
  throw nb::python_error();
}

void type_error(const std::string& msg) {
  PyErr_SetString(PyExc_TypeError, msg.c_str());
  throw nb::python_error();
}

}  // namespace vorlane::py
