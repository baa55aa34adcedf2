// Python bindings of the extract core: argument conversion only.
#include <nanobind/nanobind.h>

#include <optional>

#include "extract/errors.hpp"
#include "extract/extract.hpp"
#include "extract/patterns.hpp"
#include "pystr.hpp"
#include "text/interrupt.hpp"
#include "text/pattern.hpp"

#if __has_include("extract_llm.hpp")
#include "extract_llm.hpp"
#define VORLANE_HAVE_LLM 1
#endif

namespace nb = nanobind;
using namespace vorlane;

namespace {

// Texts from this size on are handled with the GIL released; below it the
// release and re-acquisition would cost more than the work.
constexpr std::size_t kReleaseFrom = 16 * 1024;

// Runs `f` on the UTF-8 text of a str argument.  A Ctrl-C seen by the core's
// interruption check comes back as the exception its handler raised.
template <class F>
auto with_text(nb::handle o, const char* name, F&& f) {
  std::string storage;
  std::string_view s = py::text_arg(o.ptr(), name, storage);
  // Without lone surrogates the text is the host's own strict UTF-8: the
  // core need not check it again.
  std::optional<TrustScope> trust;
  if (storage.empty()) trust.emplace(s, TrustScope::WellFormed{});
  try {
    if (s.size() < kReleaseFrom) return f(s);
    nb::gil_scoped_release release;
    return f(s);
  } catch (const extract::Interrupted&) {
    if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    throw nb::python_error();
  }
}

// The core's interruption check: runs pending signal handlers (in the main
// thread) and stops the work when one raised.
void check_signals() {
  nb::gil_scoped_acquire acquire;
  if (PyErr_CheckSignals() != 0) throw extract::Interrupted("interrupted");
}

// An immutable ordered list of texts (a tuple that also equals a list).
nb::object const_list(const auto& items) {
  nb::list l;
  for (std::string_view s : items) l.append(py::to_str(s));
  return nb::module_::import_("vorlane_core._constants").attr("ConstList")(l);
}

}  // namespace

NB_MODULE(extract, m) {
  m.doc() = "Report segmentation, literal targets and claim kinds.";
  interrupt::install(check_signals);

  m.def("split_units", [](nb::handle final) {
    return py::to_list(with_text(final, "final", [](std::string_view s) { return extract::split_units(s); }));
  }, nb::arg("final"), nb::sig("def split_units(final: str) -> list[str]"),
        "The report's Units (claim sentences and list items), in order, without near-duplicates.");

  m.def("literal_targets", [](nb::handle unit) {
    return py::to_list(with_text(unit, "unit", [](std::string_view s) { return extract::literal_targets(s); }));
  }, nb::arg("unit"), nb::sig("def literal_targets(unit: str) -> list[str]"),
        "The literal strings (code spans, dates, versions, paths, key=value pairs, numbers) of a Unit.");

  m.def("strong_kind", [](nb::handle unit) -> nb::object {
    auto k = with_text(unit, "unit", [](std::string_view s) { return extract::strong_kind(s); });
    if (!k) return nb::none();
    return py::to_str(*k);
  }, nb::arg("unit"), nb::sig("def strong_kind(unit: str) -> str | None"),
        "\"command_ran\", \"file_changed\" or None.");

  m.def("heuristic_kind", [](nb::handle unit) {
    return py::to_str(with_text(unit, "unit", [](std::string_view s) { return extract::heuristic_kind(s); }));
  }, nb::arg("unit"), nb::sig("def heuristic_kind(unit: str) -> str"),
        "One of KINDS, from word patterns alone.");

  m.def("_strip_fences", [](nb::handle text) {
    return py::to_str(with_text(text, "text", [](std::string_view s) { return extract::strip_fences(s); }));
  }, nb::arg("text"));

  m.def("_sentences", [](nb::handle par) {
    // Sentences that are views of the argument become slices of it (no
    // UTF-8 decoding, no copy in between).
    std::string storage;
    std::string_view text = py::text_arg(par.ptr(), "par", storage);
    nb::list out;
    py::Slicer slice(par.ptr(), text);
    try {
      extract::sentences(text, [&](std::string_view s) { out.append(slice.covers(s) ? slice(s) : py::to_str(s)); });
    } catch (const extract::Interrupted&) {
      if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
      throw nb::python_error();
    }
    return out;
  }, nb::arg("par"));

  m.def("_tidy", [](nb::handle x) {
    std::string storage;
    std::string_view s = py::text_arg(x.ptr(), "x", storage);
    return py::slice_of(x.ptr(), s, extract::tidy_view(s));
  }, nb::arg("x"));

  m.def("_inspection_record", [](nb::handle unit) {
    return py::to_str(with_text(unit, "unit", [](std::string_view s) { return extract::inspection_record(s); }));
  }, nb::arg("unit"));

  m.attr("ABBR") = const_list(extract::ABBR);
  m.attr("KINDS") = const_list(extract::KINDS);

  // Pattern constants are exposed as Python pattern objects holding the
  // exact pattern text and flags; matching in this module is done by the
  // compiled core patterns of the same text.
  nb::object re_compile = nb::module_::import_("re").attr("compile");
  extract::patterns();  // compile the core patterns now, at load time
  for (const auto& p : extract::exported_patterns())
    m.attr(p.name) = re_compile(py::to_str(p.source), p.re_flags);

#ifdef VORLANE_HAVE_LLM
  bind_llm(m);
#endif

  // Python faces with real signatures, for help() and inspect.signature().
  nb::module_::import_("vorlane_core._signatures").attr("expose")(m);
}
