#include "verify_claim.hpp"

#include <optional>
#include <string>
#include <vector>

#include "pystr.hpp"
#include "verify/names.hpp"
#include "verify/verdict.hpp"
#include "verify_call_state.hpp"
#include "verify_convert.hpp"
#include "verify_read.hpp"

namespace vorlane::py {

namespace {

nb::tuple verdict_tuple(const verify::Verdict& v) { return nb::make_tuple(to_str(v.word), to_str(v.note)); }

// claim.get(key): a strong reference, or none when absent.
nb::object claim_value(PyObject* claim, const char* key) {
  nb::str k(key);
  PyObject* v = PyDict_GetItemWithError(claim, k.ptr());
  if (!v) {
    if (PyErr_Occurred()) throw nb::python_error();
    return nb::object();
  }
  return nb::borrow(v);
}

// The targets as texts: falsy ones skipped, others as text (str() unless
// already one).
std::vector<std::string> target_texts(PyObject* targets) {
  std::vector<std::string> out;
  PyObject* it = PyObject_GetIter(targets);
  if (!it) throw nb::python_error();
  nb::object iter = nb::steal(it);
  while (PyObject* item = PyIter_Next(it)) {
    nb::object t = nb::steal(item);
    int truth = PyObject_IsTrue(item);
    if (truth < 0) throw nb::python_error();
    if (!truth) continue;
    std::string storage;
    if (PyUnicode_Check(item)) {
      out.emplace_back(text_of(item, storage));
    } else {
      PyObject* s = PyObject_Str(item);
      if (!s) throw nb::python_error();
      nb::object so = nb::steal(s);
      out.emplace_back(text_of(s, storage));
    }
  }
  if (PyErr_Occurred()) throw nb::python_error();
  return out;
}

// The claim's kind as the rules compare it: by ==, like a tuple membership.
verify::ClaimKind claim_kind(PyObject* kind) {
  if (!kind) return verify::claim_kind(verify::DEFAULT_KIND);
  if (PyUnicode_CheckExact(kind)) {
    std::string storage;
    return verify::claim_kind(text_of(kind, storage));
  }
  return verify::claim_kind_by([kind](std::string_view word) {
    nb::str w(word.data(), word.size());
    int r = PyObject_RichCompareBool(kind, w.ptr(), Py_EQ);
    if (r < 0) throw nb::python_error();
    return r == 1;
  });
}

}  // namespace

nb::tuple verify_claim(nb::handle claim_h, nb::handle L_h) {
  PyObject* claim = claim_h.ptr();
  PyObject* L = L_h.ptr();
  if (!PyDict_CheckExact(claim)) type_error("verify() argument 'claim' must be dict, not " + type_name(claim));
  if (!PyDict_CheckExact(L)) type_error("verify() argument 'L' must be dict, not " + type_name(L));

  nb::object kind = claim_value(claim, "kind");
  nb::object text = claim_value(claim, "text");
  nb::object targets = claim_value(claim, "targets");

  std::vector<std::string> atoms = verify::claim_atoms(targets.is_valid() ? target_texts(targets.ptr())
                                                                          : std::vector<std::string>());
  if (atoms.empty()) return verdict_tuple(verify::nothing_to_check());

  std::string text_storage;
  std::string_view text_view;  // into `text`, held to the end of the call
  if (text.is_valid()) {
    if (!PyUnicode_Check(text.ptr()))
      type_error("expected string or bytes-like object, got '" + type_name(text.ptr()) + "'");
    text_view = text_of(text.ptr(), text_storage);
  }
  verify::ClaimKind k = claim_kind(kind.is_valid() ? kind.ptr() : nullptr);

  CallState st;
  set_home(st, home_text());
  convert_log(L, st);

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
  if (err) raise_error(*err, &st);
  return verdict_tuple(v);
}

}  // namespace vorlane::py
