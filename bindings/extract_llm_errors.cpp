#include "extract_llm_errors.hpp"

#include <Python.h>

#include <cstring>
#include <string>

#include "extract/errors.hpp"
#include "pystr.hpp"

namespace nb = nanobind;
using namespace vorlane;

namespace {

// Held for the life of the process (the module is never unloaded).
PyObject* g_endpoint_error = nullptr;
PyObject* g_http_error = nullptr;
PyObject* g_timeout_error = nullptr;
PyObject* g_too_large_error = nullptr;

PyObject* message_of(const char* what) {
  PyObject* s = PyUnicode_DecodeUTF8(what, static_cast<Py_ssize_t>(std::strlen(what)), "replace");
  if (!s) throw nb::python_error();
  return s;
}

void set_attr(PyObject* exc, const char* name, PyObject* value) {
  nb::object guard = nb::steal(value);
  if (!value || PyObject_SetAttrString(exc, name, value) < 0) throw nb::python_error();
}

// Raises `cls(message)` with the attribute url, and `extra` (name, value)
// when given.  The URL is the shown one, credentials masked.
[[noreturn]] void raise_endpoint(PyObject* cls, const extract::EndpointError& e, const char* extra = nullptr,
                                 PyObject* extra_value = nullptr) {
  nb::object value = nb::steal(extra_value);
  PyObject* msg = message_of(e.what());
  PyObject* exc = PyObject_CallOneArg(cls, msg);
  Py_DECREF(msg);
  if (!exc) throw nb::python_error();
  nb::object guard = nb::steal(exc);
  set_attr(exc, "url", py::to_str(e.url()).release().ptr());
  if (extra) set_attr(exc, extra, value.release().ptr());
  PyErr_SetObject(cls, exc);
  throw nb::python_error();
}

PyObject* new_exception(const std::string& module, const char* name, const char* doc, PyObject* base) {
  std::string qualified = module + "." + name;
  PyObject* cls = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base, nullptr);
  if (!cls) throw nb::python_error();
  return cls;
}

}  // namespace

void rethrow_model_error(std::exception_ptr ep) {
  try {
    std::rethrow_exception(ep);
  } catch (const extract::HttpStatusError& e) {
    raise_endpoint(g_http_error, e, "status", PyLong_FromLong(e.status()));
  } catch (const extract::TimeoutError& e) {
    raise_endpoint(g_timeout_error, e);
  } catch (const extract::ReplyTooLarge& e) {
    raise_endpoint(g_too_large_error, e, "limit", PyLong_FromSize_t(e.limit()));
  } catch (const extract::EndpointError& e) {
    raise_endpoint(g_endpoint_error, e);
  } catch (const extract::Interrupted&) {
    // A signal handler's exception is already set on this thread, unless
    // the request was cancelled from another thread.
    if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    throw nb::python_error();
  } catch (const extract::ReplyError& e) {
    using K = extract::ReplyError::Kind;
    if (e.kind() == K::Key) {
      nb::object key = e.int_key() ? nb::steal(PyLong_FromString(e.key().c_str(), nullptr, 10))
                                   : nb::object(py::to_str(e.key()));
      if (!key.is_valid()) throw nb::python_error();
      PyErr_SetObject(PyExc_KeyError, key.ptr());
      throw nb::python_error();
    }
    PyObject* type = e.kind() == K::Value ? PyExc_ValueError
                   : e.kind() == K::Index ? PyExc_IndexError
                                          : PyExc_TypeError;
    PyObject* msg = message_of(e.what());
    PyErr_SetObject(type, msg);
    Py_DECREF(msg);
    throw nb::python_error();
  } catch (const extract::ModelError& e) {
    PyObject* msg = message_of(e.what());
    PyErr_SetObject(PyExc_RuntimeError, msg);
    Py_DECREF(msg);
    throw nb::python_error();
  }
}

void bind_model_errors(nb::module_& m) {
  nb::object name = m.attr("__name__");
  const char* modname_c = PyUnicode_AsUTF8(name.ptr());
  if (!modname_c) throw nb::python_error();
  const std::string modname(modname_c);
  g_endpoint_error = new_exception(
      modname, "ModelEndpointError",
      "The model endpoint could not be used: unreachable, connection refused or dropped, "
      "or an invalid LLM_URL.  The message names the URL; the attribute url holds it, "
      "both with any password in the URL shown as ***.",
      PyExc_OSError);
  g_http_error = new_exception(
      modname, "ModelHTTPError",
      "The model endpoint answered with an HTTP status outside 200..299; the attributes "
      "status and url hold the status code and the URL.",
      g_endpoint_error);
  {
    PyObject* bases = PyTuple_Pack(2, g_endpoint_error, PyExc_TimeoutError);
    if (!bases) throw nb::python_error();
    nb::object guard = nb::steal(bases);
    g_timeout_error = new_exception(
        modname, "ModelTimeoutError",
        "The model endpoint sent nothing for longer than the time-out, while connecting "
        "or while the request was sent or the reply awaited, or gave no complete reply "
        "within the deadline of the whole request.",
        bases);
  }
  g_too_large_error = new_exception(
      modname, "ModelReplyTooLargeError",
      "The model endpoint's reply was larger than the reply size limit (announced or "
      "received); reading stopped there.  The attribute limit holds the limit in bytes.",
      g_endpoint_error);
  m.attr("ModelEndpointError") = nb::borrow(g_endpoint_error);
  m.attr("ModelHTTPError") = nb::borrow(g_http_error);
  m.attr("ModelTimeoutError") = nb::borrow(g_timeout_error);
  m.attr("ModelReplyTooLargeError") = nb::borrow(g_too_large_error);
}
