// Python bindings of the verdict core: the module's names, argument checks,
// and the private helpers that tests and tools call.  Value conversion lives
// in verify_convert.cpp, verify() itself in verify_claim.cpp; the matching
// runs without the GIL.
#include <nanobind/nanobind.h>

#include <algorithm>
#include <chrono>
#include <optional>

#include "extract/patterns.hpp"
#include "pystr.hpp"
#include "verify/errors.hpp"
#include "verify/literal.hpp"
#include "verify/match.hpp"
#include "verify/names.hpp"
#include "verify_call_state.hpp"
#include "verify_claim.hpp"
#include "verify_convert.hpp"
#include "verify_json.hpp"
#include "verify_read.hpp"
#include "verify_text_cache.hpp"

namespace nb = nanobind;
using namespace vorlane;

namespace {

// A list (or tuple) of texts as the matchers take it, copied so that the
// caller's list cannot change under it; entries that are neither str nor
// None are refused before any work.
nb::object checked_texts(nb::handle texts) {
  PyObject* t = texts.ptr();
  if (!PyList_Check(t) && !PyTuple_Check(t)) py::type_error("texts must be a list, not " + py::type_name(t));
  nb::object seq = nb::steal(PyList_Check(t) ? PyList_GetSlice(t, 0, PyList_GET_SIZE(t)) : PySequence_Fast(t, ""));
  if (!seq.is_valid()) throw nb::python_error();
  Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.ptr());
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* e = PySequence_Fast_GET_ITEM(seq.ptr(), i);
    if (e != Py_None && !PyUnicode_Check(e))
      py::type_error("texts entries must be str or None, not " + py::type_name(e));
  }
  return seq;
}

// Runs `lookup(matcher, texts)` for the matcher helpers `_in` / `_words_in`.
template <class F>
bool lookup_in(nb::handle lit, nb::handle texts, F&& lookup) {
  std::string storage;
  std::string_view l = py::text_arg(lit.ptr(), "lit", storage);
  nb::object seq = checked_texts(texts);
  py::CallState st;
  py::set_home(st, py::home_text());
  verify::TextList list;
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

template <std::size_t N>
nb::tuple words_tuple(const std::string_view (&words)[N]) {
  nb::list l;
  for (std::string_view w : words) l.append(py::to_str(w));
  return nb::tuple(l);
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
  // The core's word lists: the tools whose calls only read, the tools whose
  // events carry what was run, and the verdict words.
  m.attr("READ_TOOLS") = nb::steal(PyFrozenSet_New(words_tuple(verify::READ_TOOLS).ptr()));
  m.attr("COMMAND_TOOLS") = words_tuple(verify::COMMAND_TOOLS);
  m.attr("VERDICTS") = words_tuple(verify::VERDICTS);

  m.def("verify", &py::verify_claim, nb::arg("claim").none(), nb::arg("L").none(),
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
    std::string home = py::home_or_raise();
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
    std::string home = py::home_or_raise();
    return py::to_list(verify::variants_of_norm(verify::norm(v, home)));
  }, nb::arg("lit").none());

  m.def("_tokens", [](nb::handle lit) {
    std::string storage;
    std::string_view v = py::text_arg(lit.ptr(), "lit", storage);
    std::string home = py::home_or_raise();
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
    if (!PyDict_CheckExact(L.ptr())) py::type_error("L must be dict, not " + py::type_name(L.ptr()));
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < repeats; ++i) {
      py::CallState st;
      py::set_home(st, py::home_text());
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
