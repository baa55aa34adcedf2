// Python bindings of the verdict core: argument checks, value conversion,
// the cache of normalised log texts, and the mapping of core failures onto
// Python exceptions.  The matching itself runs without the GIL.
#include <nanobind/nanobind.h>

#include <algorithm>
#include <chrono>
#include <optional>

#include "extract/patterns.hpp"
#include "pystr.hpp"
#include "verify/errors.hpp"
#include "verify/literal.hpp"
#include "verify/match.hpp"
#include "verify/verdict.hpp"
#include "verify_cache.hpp"
#include "verify_convert.hpp"

namespace nb = nanobind;
using namespace vorlane;

namespace {

std::string type_name_of(PyObject* o) {
  PyObject* n = PyType_GetName(Py_TYPE(o));
  if (!n) {
    PyErr_Clear();
    return Py_TYPE(o)->tp_name;
  }
  std::string storage;
  std::string s(py::text_of(n, storage));
  Py_DECREF(n);
  return s;
}

[[noreturn]] void type_error(const std::string& msg) {
  PyErr_SetString(PyExc_TypeError, msg.c_str());
  throw nb::python_error();
}

// The home directory of this call, or a KeyError saying why there is none.
std::string home_or_raise() {
  py::HomeLookup h = py::find_home();
  if (!h.path) py::raise_error(verify::Error::key(h.error), nullptr);
  return *h.path;
}

// A list (or tuple) of texts as the matchers take it; entries that are
// neither str nor None are refused before any work.
void check_texts(nb::handle texts) {
  PyObject* t = texts.ptr();
  if (!PyList_Check(t) && !PyTuple_Check(t)) type_error("texts must be a list, not " + type_name_of(t));
  nb::object seq = nb::steal(PySequence_Fast(t, ""));
  Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.ptr());
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* e = PySequence_Fast_GET_ITEM(seq.ptr(), i);
    if (e != Py_None && !PyUnicode_Check(e))
      type_error("texts entries must be str or None, not " + type_name_of(e));
  }
}

// Runs `lookup(matcher, texts)` for the matcher helpers `_in` / `_words_in`.
template <class F>
bool lookup_in(nb::handle lit, nb::handle texts, F&& lookup) {
  std::string storage;
  std::string_view l = py::text_arg(lit.ptr(), "lit", storage);
  check_texts(texts);
  py::CallState st;
  py::set_home(st, py::find_home());
  verify::TextList list;
  nb::object seq = nb::steal(PySequence_Fast(texts.ptr(), ""));
  Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.ptr());
  for (Py_ssize_t i = 0; i < n; ++i)
    list.push(py::text_value(PySequence_Fast_GET_ITEM(seq.ptr(), i), "texts entries", st));
  std::optional<verify::Error> err;
  bool r = false;
  {
    nb::gil_scoped_release release;
    try {
      verify::Matcher m(st.log.faults, st.log.home.get(), st.log.home_fault);
      r = lookup(m, l, list);
    } catch (const verify::Error& e) {
      err = e;
    }
  }
  if (err) py::raise_error(*err, &st);
  return r;
}

nb::tuple verdict_tuple(const verify::Verdict& v) {
  return nb::make_tuple(py::to_str(v.word), py::to_str(v.note));
}

// The claim's kind as the rules compare it (by ==, like a tuple membership).
verify::ClaimKind claim_kind(PyObject* kind) {
  verify::ClaimKind k;
  if (!kind) {  // absent: "other"
    k.mention_kind = true;
    return k;
  }
  auto eq = [&](const char* word) {
    if (PyUnicode_CheckExact(kind)) return PyUnicode_CompareWithASCIIString(kind, word) == 0;
    nb::str w(word);
    int r = PyObject_RichCompareBool(kind, w.ptr(), Py_EQ);
    if (r < 0) throw nb::python_error();
    return r == 1;
  };
  k.command_ran = eq("command_ran");
  k.file_changed = eq("file_changed");
  k.mention_kind = eq("other") || eq("external_action") || eq("mention");
  return k;
}

nb::tuple verify_claim(nb::handle claim_h, nb::handle L_h) {
  PyObject* claim = claim_h.ptr();
  PyObject* L = L_h.ptr();
  if (!PyDict_CheckExact(claim))
    type_error("verify() argument 'claim' must be dict, not " + type_name_of(claim));
  if (!PyDict_CheckExact(L)) type_error("verify() argument 'L' must be dict, not " + type_name_of(L));

  auto get = [&](const char* key) -> nb::object {
    nb::str k(key);
    PyObject* v = PyDict_GetItemWithError(claim, k.ptr());
    if (!v) {
      if (PyErr_Occurred()) throw nb::python_error();
      return nb::object();
    }
    return nb::borrow(v);
  };
  nb::object kind = get("kind");
  nb::object text = get("text");
  nb::object targets = get("targets");

  // Targets: falsy ones skipped, others as text (str() unless already one).
  std::vector<std::string> target_texts;
  if (targets.is_valid()) {
    PyObject* it = PyObject_GetIter(targets.ptr());
    if (!it) throw nb::python_error();
    nb::object iter = nb::steal(it);
    while (PyObject* item = PyIter_Next(it)) {
      nb::object t = nb::steal(item);
      int truth = PyObject_IsTrue(item);
      if (truth < 0) throw nb::python_error();
      if (!truth) continue;
      std::string storage;
      if (PyUnicode_Check(item)) {
        target_texts.emplace_back(py::text_of(item, storage));
      } else {
        PyObject* s = PyObject_Str(item);
        if (!s) throw nb::python_error();
        nb::object so = nb::steal(s);
        target_texts.emplace_back(py::text_of(s, storage));
      }
    }
    if (PyErr_Occurred()) throw nb::python_error();
  }
  std::vector<std::string> atoms = verify::claim_atoms(target_texts);
  if (atoms.empty()) return verdict_tuple(verify::nothing_to_check());

  std::string text_storage;
  std::string_view text_view;
  if (text.is_valid()) {
    if (!PyUnicode_Check(text.ptr()))
      type_error("expected string or bytes-like object, got '" + type_name_of(text.ptr()) + "'");
    text_view = py::text_of(text.ptr(), text_storage);
  }
  verify::ClaimKind k = claim_kind(kind.is_valid() ? kind.ptr() : nullptr);

  py::CallState st;
  py::set_home(st, py::find_home());
  py::convert_log(L, st);

  verify::Verdict v;
  std::optional<verify::Error> err;
  {
    nb::gil_scoped_release release;
    try {
      v = verify::judge(k, text_view, atoms, st.log);
    } catch (const verify::Error& e) {
      err = e;
    }
  }
  if (err) py::raise_error(*err, &st);
  return verdict_tuple(v);
}

}  // namespace

NB_MODULE(verify, m) {
  m.doc() = "Verdicts on an agent's claims against the run log of its turn.";

  // The extract module comes first: its WORK_VERB_RE is one of the rules.
  nb::object extract_mod = nb::module_::import_("vorlane_core.extract");
  m.attr("WORK_VERB_RE") = extract_mod.attr("WORK_VERB_RE");

  // Compile the core patterns now, at load time.
  verify::patterns();
  extract::patterns();

  nb::object re_compile = nb::module_::import_("re").attr("compile");
  for (const auto& p : verify::exported_patterns())
    m.attr(p.name) = re_compile(py::to_str(p.source), p.re_flags);
  {
    nb::list names;
    for (std::string_view t : verify::READ_TOOLS) names.append(py::to_str(t));
    m.attr("READ_TOOLS") = nb::steal(PyFrozenSet_New(names.ptr()));
  }

  m.def("verify", &verify_claim, nb::arg("claim").none(), nb::arg("L").none(),
        nb::sig("def verify(claim: vorlane_core.types.Claim | dict[str, typing.Any], "
                "L: vorlane_core.types.RunLog | dict[str, typing.Any]) -> tuple[str, str]"),
        "verify(claim, L) -> (verdict, note)\n\n"
        "The verdict word (\"verified\", \"unverified\", \"contradicted\", \"unchecked\" or\n"
        "\"pre-existing\") and a one-line note naming the evidence, for one claim\n"
        "(a dict with \"text\", \"kind\", \"targets\") against the run log L of its turn.");

  m.def("_clean", [](nb::handle t) {
    std::string storage;
    return py::to_str(verify::clean(py::text_arg(t.ptr(), "t", storage)));
  }, nb::arg("t").none());

  m.def("_atoms", [](nb::handle t) {
    std::string storage;
    return py::to_list(verify::atoms(py::text_arg(t.ptr(), "t", storage)));
  }, nb::arg("t").none());

  m.def("_kind_of", [](nb::handle lit) {
    std::string storage;
    return py::to_str(verify::kind_name(verify::kind_of(py::text_arg(lit.ptr(), "lit", storage))));
  }, nb::arg("lit").none());

  m.def("_norm", [](nb::handle s) {
    std::string storage;
    std::string_view v = py::text_arg(s.ptr(), "s", storage);
    std::string home = home_or_raise();
    std::string out;
    {
      nb::gil_scoped_release release;
      out = verify::norm(v, home);
    }
    return py::to_str(out);
  }, nb::arg("s").none());

  m.def("_variants", [](nb::handle lit) {
    std::string storage;
    std::string_view v = py::text_arg(lit.ptr(), "lit", storage);
    std::string home = home_or_raise();
    return py::to_list(verify::variants_of_norm(verify::norm(v, home)));
  }, nb::arg("lit").none());

  m.def("_tokens", [](nb::handle lit) {
    std::string storage;
    std::string_view v = py::text_arg(lit.ptr(), "lit", storage);
    std::string home = home_or_raise();
    return py::to_list(verify::tokens_of_norm(verify::norm(v, home)));
  }, nb::arg("lit").none());

  m.def("_in", [](nb::handle lit, nb::handle texts) {
    return lookup_in(lit, texts, [](verify::Matcher& mt, std::string_view l, const verify::TextList& t) {
      return mt.in(l, t);
    });
  }, nb::arg("lit").none(), nb::arg("texts").none());

  m.def("_words_in", [](nb::handle lit, nb::handle texts) {
    return lookup_in(lit, texts, [](verify::Matcher& mt, std::string_view l, const verify::TextList& t) {
      return mt.words_in(l, t);
    });
  }, nb::arg("lit").none(), nb::arg("texts").none());

  m.def("_json_text", [](nb::handle value) {
    // The text that an external action's "args" value is searched as.
    py::CallState st;
    json::Value v;
    int32_t fault = py::to_json(value.ptr(), v, st);
    if (fault >= 0) {
      try {
        st.log.faults.raise(fault);
      } catch (const verify::Error& e) {
        py::raise_error(e, &st);
      }
    }
    return py::to_str(json::dumps(v));
  }, nb::arg("value").none());

  m.def("_additive", [](nb::handle text) {
    std::string storage;
    return verify::additive(py::text_arg(text.ptr(), "text", storage));
  }, nb::arg("text").none());

  // The cache of normalised log texts (for tests and tools).
  m.def("_cache_info", [] {
    auto i = py::NormCache::instance().info();
    nb::dict d;
    d["entries"] = i.entries;
    d["bytes"] = i.bytes;
    d["limit"] = i.limit;
    d["normalised"] = i.normalised;
    d["hits"] = i.hits;
    d["misses"] = i.misses;
    d["lists"] = py::snapshot_count();
    return d;
  }, "Entries, charged bytes, byte limit, normalised entries, hits and misses of the cache.");
  m.def("_conversion_seconds", [](nb::handle L, int repeats) {
    // Mean time to convert L as verify() does before matching (the part of
    // a call that holds the GIL), for benchmarks.
    if (!PyDict_CheckExact(L.ptr())) type_error("L must be dict, not " + type_name_of(L.ptr()));
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < repeats; ++i) {
      py::CallState st;
      py::set_home(st, py::find_home());
      py::convert_log(L.ptr(), st);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / std::max(repeats, 1);
  }, nb::arg("L").none(), nb::arg("repeats") = 1);
  m.def("_cache_clear", [] {
    py::clear_snapshots();
    py::NormCache::instance().clear();
  }, "Empties the cache (and the kept conversions of run-log lists).");
  m.def("_cache_limit", [](std::size_t bytes) { py::NormCache::instance().set_limit(bytes); }, nb::arg("bytes"),
        "Sets the cache's byte limit (0: no caching) and trims it.");

  // Python faces with real signatures, for help() and inspect.signature().
  nb::module_::import_("vorlane_core._signatures").attr("expose")(m);
}
