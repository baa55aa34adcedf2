// Python bindings of the model path: classify_units, extract_claims and the
// settings and errors that go with them.
//
// The model settings are module attributes: LLM_URL and LLM_MODEL are set
// from the environment when the module loads, and, like _TIMEOUT, are read
// from the module at every call, so assigning them takes effect at once.
#include "extract_llm.hpp"

#include <Python.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "extract/claims.hpp"
#include "extract/classify.hpp"
#include "extract/errors.hpp"
#include "extract/extract.hpp"
#include "pystr.hpp"

namespace nb = nanobind;
using namespace vorlane;

namespace {

// Held for the life of the process (the module is never unloaded).
PyObject* g_module = nullptr;
PyObject* g_endpoint_error = nullptr;
PyObject* g_http_error = nullptr;
PyObject* g_timeout_error = nullptr;

PyObject* message_of(const char* what) {
  PyObject* s = PyUnicode_DecodeUTF8(what, static_cast<Py_ssize_t>(std::strlen(what)), "replace");
  if (!s) throw nb::python_error();
  return s;
}

// Raises `cls(message)` with the attributes url (and status).
[[noreturn]] void raise_endpoint(PyObject* cls, const extract::EndpointError& e,
                                 std::optional<long> status = std::nullopt) {
  PyObject* msg = message_of(e.what());
  PyObject* exc = PyObject_CallOneArg(cls, msg);
  Py_DECREF(msg);
  if (!exc) throw nb::python_error();
  nb::object guard = nb::steal(exc);
  nb::str url = py::to_str(e.url());
  if (PyObject_SetAttrString(exc, "url", url.ptr()) < 0) throw nb::python_error();
  if (status) {
    nb::object code = nb::steal(PyLong_FromLong(*status));
    if (!code.is_valid() || PyObject_SetAttrString(exc, "status", code.ptr()) < 0) throw nb::python_error();
  }
  PyErr_SetObject(cls, exc);
  throw nb::python_error();
}

// Turns a core error of the model path into the matching Python exception;
// anything else is rethrown for nanobind's own translation.
[[noreturn]] void rethrow_as_python(std::exception_ptr ep) {
  try {
    std::rethrow_exception(ep);
  } catch (const extract::HttpStatusError& e) {
    raise_endpoint(g_http_error, e, e.status());
  } catch (const extract::TimeoutError& e) {
    raise_endpoint(g_timeout_error, e);
  } catch (const extract::EndpointError& e) {
    raise_endpoint(g_endpoint_error, e);
  } catch (const extract::Interrupted&) {
    // The signal handler's exception is already set on this thread.
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

// Runs `f` with the GIL released; errors come back as Python exceptions once
// the GIL is held again.
template <class F>
auto released(F&& f) -> decltype(f()) {
  std::optional<decltype(f())> result;
  std::exception_ptr err;
  {
    nb::gil_scoped_release release;
    try {
      result.emplace(f());
    } catch (...) {
      err = std::current_exception();
    }
  }
  if (err) rethrow_as_python(err);
  return std::move(*result);
}

nb::object module_attr(const char* name) {
  PyObject* v = PyObject_GetAttrString(g_module, name);
  if (!v) throw nb::python_error();
  return nb::steal(v);
}

double checked_timeout(PyObject* v, const char* what) {
  double t = PyFloat_AsDouble(v);
  if (t == -1.0 && PyErr_Occurred()) throw nb::python_error();
  if (!(t > 0) || !std::isfinite(t)) {
    PyErr_Format(PyExc_ValueError, "%s must be a positive, finite number of seconds", what);
    throw nb::python_error();
  }
  return t;
}

// The settings in force now: LLM_URL, LLM_MODEL and _TIMEOUT of the module.
extract::ModelSettings current_settings() {
  extract::ModelSettings s;
  std::string storage;
  nb::object url = module_attr("LLM_URL");
  s.url = std::string(py::text_arg(url.ptr(), "LLM_URL", storage));
  nb::object model = module_attr("LLM_MODEL");
  s.model = std::string(py::text_arg(model.ptr(), "LLM_MODEL", storage));
  nb::object timeout = module_attr("_TIMEOUT");
  s.timeout_s = checked_timeout(timeout.ptr(), "_TIMEOUT");
  // Lets Ctrl-C end a long wait: pending signals are handled (in the main
  // thread) while the request is in flight, and an exception raised by a
  // handler stops the request.
  s.interrupted = [] {
    nb::gil_scoped_acquire acquire;
    return PyErr_CheckSignals() != 0;
  };
  return s;
}

std::vector<std::string> units_arg(nb::handle o) {
  PyObject* seq = PySequence_Fast(o.ptr(), "units must be a list of str");
  if (!seq) throw nb::python_error();
  nb::object guard = nb::steal(seq);
  Py_ssize_t n = PySequence_Fast_GET_SIZE(seq);
  std::vector<std::string> units;
  units.reserve(static_cast<std::size_t>(n));
  std::string storage;
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = PySequence_Fast_GET_ITEM(seq, i);
    if (!PyUnicode_Check(item)) {
      PyErr_Format(PyExc_TypeError, "units[%zd] must be str, not %.200s", i, Py_TYPE(item)->tp_name);
      throw nb::python_error();
    }
    units.emplace_back(py::text_of(item, storage));
  }
  return units;
}

// The value of an environment variable as the host's os.environ shows it
// (file-system decoding, undecodable bytes kept as surrogates).
nb::str env_text(const char* name, std::string_view fallback) {
  if (const char* v = std::getenv(name)) {
    PyObject* s = PyUnicode_DecodeFSDefault(v);
    if (!s) throw nb::python_error();
    return nb::steal<nb::str>(s);
  }
  return py::to_str(fallback);
}

PyObject* new_exception(const std::string& module, const char* name, const char* doc, PyObject* base) {
  std::string qualified = module + "." + name;
  PyObject* cls = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base, nullptr);
  if (!cls) throw nb::python_error();
  return cls;
}

}  // namespace

void bind_llm(nb::module_& m) {
  g_module = m.ptr();
  Py_INCREF(g_module);

  nb::object name = m.attr("__name__");
  const char* modname_c = PyUnicode_AsUTF8(name.ptr());
  if (!modname_c) throw nb::python_error();
  const std::string modname(modname_c);
  g_endpoint_error = new_exception(
      modname, "ModelEndpointError",
      "The model endpoint could not be used: unreachable, connection refused or dropped, "
      "or an invalid LLM_URL.  The message names the URL; the attribute url holds it.",
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
        "or while the request was sent or the reply awaited.",
        bases);
  }
  m.attr("ModelEndpointError") = nb::borrow(g_endpoint_error);
  m.attr("ModelHTTPError") = nb::borrow(g_http_error);
  m.attr("ModelTimeoutError") = nb::borrow(g_timeout_error);

  m.attr("CLASSIFY_PROMPT") = py::to_str(extract::CLASSIFY_PROMPT);
  m.attr("LLM_URL") = env_text("VESKARD_LLM_URL", extract::DEFAULT_LLM_URL);
  m.attr("LLM_MODEL") = env_text("VESKARD_LLM_MODEL", extract::DEFAULT_LLM_MODEL);
  m.attr("_TIMEOUT") = nb::float_(extract::DEFAULT_TIMEOUT_S);

  m.def(
      "_set_timeout",
      [](nb::handle seconds) {
        double t = checked_timeout(seconds.ptr(), "seconds");
        nb::object old = module_attr("_TIMEOUT");
        nb::setattr(nb::handle(g_module), "_TIMEOUT", nb::float_(t));
        return old;
      },
      nb::arg("seconds"),
      "Sets the model request time-out (seconds; default 300) and returns the previous "
      "value.  For tests.");

  m.def(
      "classify_units",
      [](nb::handle units) {
        std::vector<std::string> us = units_arg(units);
        extract::ModelSettings settings = current_settings();
        std::vector<extract::UnitRecord> recs =
            released([&] { return extract::classify_units(us, settings); });
        nb::list out;
        for (const auto& r : recs) {
          nb::dict d;
          d["kind"] = py::to_str(r.kind);
          d["model_targets"] = py::to_list(r.model_targets);
          out.append(d);
        }
        return out;
      },
      nb::arg("units").none(),
      nb::sig("def classify_units(units: collections.abc.Sequence[str]) -> list[vorlane_core.types.UnitRecord]"),
      "Classifies Units with the chat-completions model at LLM_URL (one request for all), "
      "merged with the word heuristics.  Returns one {\"kind\", \"model_targets\"} record "
      "per Unit, in order.");

  m.def(
      "extract_claims",
      [](nb::handle final, nb::handle use_llm) {
        std::string storage;
        std::string text(py::text_arg(final.ptr(), "final", storage));
        std::vector<std::string> units = released([&] { return extract::split_units(text); });
        nb::list out;
        if (units.empty()) return out;
        int llm = PyObject_IsTrue(use_llm.ptr());
        if (llm < 0) throw nb::python_error();
        extract::ModelSettings settings;
        if (llm) settings = current_settings();
        std::vector<extract::Claim> claims =
            released([&] { return extract::claims_from_units(units, llm != 0, settings); });
        for (const auto& c : claims) {
          nb::dict d;
          d["text"] = py::to_str(c.text);
          d["kind"] = py::to_str(c.kind);
          d["targets"] = py::to_list(c.targets);
          out.append(d);
        }
        return out;
      },
      nb::arg("final").none(), nb::arg("use_llm").none() = true,
      nb::sig("def extract_claims(final: str, use_llm: object = True) -> list[vorlane_core.types.Claim]"),
      "The Claims of a final report: one {\"text\", \"kind\", \"targets\"} mapping per Unit, "
      "in order.  With use_llm (only its truth value counts) the model classifies the Units.");
}
