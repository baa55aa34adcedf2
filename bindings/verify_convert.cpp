#include "verify_convert.hpp"

#include "pystr.hpp"
#include "verify/exit_code.hpp"
#include "verify/names.hpp"
#include "verify_json.hpp"
#include "verify_list_cache.hpp"
#include "verify_read.hpp"

namespace vorlane::py {

using verify::TextValue;

namespace {

// A failed host operation, captured by the caller of the question.
struct HostFailed {};

// The exit code's answers to the success rule's questions, with Python's
// comparisons (exact built-in values answered without running host code).
class HostExitCode final : public verify::ExitCodeQuestions {
 public:
  explicit HostExitCode(PyObject* v) : v_(v) {}
  bool is_null() override { return v_ == Py_None; }
  bool is_text() override { return PyUnicode_Check(v_); }
  bool equals_zero() override {
    if (v_ == Py_True) return false;
    if (v_ == Py_False) return true;
    if (PyLong_CheckExact(v_)) {
      int overflow = 0;
      long v = PyLong_AsLongAndOverflow(v_, &overflow);
      return !overflow && v == 0;
    }
    if (PyFloat_CheckExact(v_)) return PyFloat_AS_DOUBLE(v_) == 0.0;
    return equal(keys().zero);
  }
  bool equals_zero_text() override {
    if (PyUnicode_CheckExact(v_)) return PyUnicode_CompareWithASCIIString(v_, "0") == 0;
    if (PyBool_Check(v_) || PyLong_CheckExact(v_) || PyFloat_CheckExact(v_)) return false;
    return equal(keys().zero_text);
  }

 private:
  bool equal(PyObject* other) {
    int r = PyObject_RichCompareBool(v_, other, Py_EQ);
    if (r < 0) throw HostFailed{};
    return r == 1;
  }
  PyObject* v_;
};

// True for values whose every property that the rules read (truth value,
// comparison with 0 and "0", str()) can never change.
bool immutable_scalar(PyObject* v) {
  return v == Py_None || v == Py_True || v == Py_False || PyLong_CheckExact(v) || PyFloat_CheckExact(v) ||
         PyUnicode_CheckExact(v);
}

// A text field value that a reused conversion may keep: an exact str or None.
bool plain_text(PyObject* v) { return v == Py_None || PyUnicode_CheckExact(v); }

// Reads one text field of a record; a missing key or a value that is not a
// text becomes a fault that the core raises when it first reads the field.
void read_text_field(PyObject* rec, PyObject* key, const char* what, verify::TextField& f, CallState& st,
                     Collect& col) {
  nb::object v;
  f.fault = read_key(rec, key, st, v);
  if (f.fault >= 0) return;
  if (!plain_text(v.ptr())) col.reusable = false;
  f.value = text_value(v.ptr(), what, st);
}

void convert_event(PyObject* e, verify::Event& ev, CallState& st, Collect& col) {
  const Keys& k = keys();
  if (!PyDict_CheckExact(e)) col.reusable = false;

  nb::object tool;
  ev.tool_fault = read_key(e, k.tool, st, tool);
  if (ev.tool_fault < 0) {
    PyObject* t = tool.ptr();
    if (!PyUnicode_CheckExact(t)) col.reusable = false;
    if (PyUnicode_Check(t)) {
      std::string storage;
      ev.tool = verify::tool_kind(text_of(t, storage));
    } else if (PyObject_Hash(t) == -1) {
      ev.tool_fault = capture(st);  // set membership needs a hashable value
    }
  }

  nb::object wrote;
  ev.wrote_fault = read_key(e, k.wrote, st, wrote);
  if (ev.wrote_fault < 0) {
    if (!immutable_scalar(wrote.ptr())) col.reusable = false;
    int r = PyObject_IsTrue(wrote.ptr());
    if (r < 0) ev.wrote_fault = capture(st);
    else ev.wrote = r == 1;
  }
  if (ev.wrote_fault < 0 && ev.wrote) {
    read_text_field(e, k.payload, "'payload' of an event", ev.payload, st, col);
  }
  if (ev.tool_fault < 0 &&
      (ev.tool == verify::Event::Tool::Terminal || ev.tool == verify::Event::Tool::ExecuteCode)) {
    read_text_field(e, k.command, "'command' of an event", ev.command, st, col);
  }
  read_text_field(e, k.output, "'output' of an event", ev.output, st, col);
}

void convert_command(PyObject* r, verify::Command& c, CallState& st, Collect& col) {
  const Keys& k = keys();
  if (!PyDict_CheckExact(r)) col.reusable = false;

  read_text_field(r, k.command, "'command' of a command record", c.command, st, col);

  nb::object ec;
  c.exit_fault = read_key(r, k.exit_code, st, ec);
  if (c.exit_fault < 0) {
    if (!immutable_scalar(ec.ptr())) col.reusable = false;
    HostExitCode code(ec.ptr());
    try {
      c.success = verify::exit_success(code);
    } catch (const HostFailed&) {
      c.exit_fault = capture(st);
    }
    if (c.exit_fault < 0 && !c.success) {
      // The text form of the failed code, for the contradiction note.
      PyObject* s = PyObject_Str(ec.ptr());
      if (!s) {
        c.exit_text_fault = capture(st);
      } else {
        std::string storage;
        c.exit_text = std::string(text_of(s, storage));
        Py_DECREF(s);
      }
    }
  }

  read_text_field(r, k.output, "'output' of a command record", c.output, st, col);
}

void convert_written_entry(PyObject* p, TextValue& v, CallState& st, Collect& col) {
  if (!plain_text(p)) col.reusable = false;
  v = text_value(p, "an entry of 'written'", st);
}

// Converts one list of the log, reusing a kept conversion when it is fresh.
// `convert(element, item, st, col)` converts one element.
template <class T, class Convert>
void convert_list(PyObject* L, PyObject* key_obj, ListKind kind, verify::LogList<T>& list,
                  std::vector<T> ListSnapshot::*slot, CallState& st, Convert convert) {
  nb::object v, seq;
  list.read_fault = read_key(L, key_obj, st, v);
  if (list.read_fault >= 0) return;
  PyObject* obj = v.ptr();
  const bool keepable = dict_versions_available() && st.use_cache && (PyList_CheckExact(obj) || PyTuple_CheckExact(obj));
  const bool dicts = kind != ListKind::Written;
  SnapshotKey key{kind, obj, st.log.home.get()};
  if (keepable) {
    if (auto s = SnapshotCache::instance().find(key); s && fresh(*s, obj)) {
      list.shared = &((*s).*slot);
      st.snapshots.push_back(std::move(s));
      return;
    }
  }
  list.iter_fault = items_of(obj, st, seq);
  if (list.iter_fault >= 0) return;
  PyObject* items = seq.ptr();  // held here alone: host code cannot change it
  ElementVersions before;
  if (keepable && dicts) before = element_versions(items);

  Py_ssize_t n = PySequence_Fast_GET_SIZE(items);
  list.own.resize(static_cast<std::size_t>(n));
  Collect col;
  col.reusable = keepable && (!dicts || before.ok);
  std::size_t faults_before = st.log.faults.size();
  st.collect = &col;
  for (Py_ssize_t i = 0; i < n; ++i)
    convert(PySequence_Fast_GET_ITEM(items, i), list.own[static_cast<std::size_t>(i)], st, col);
  st.collect = nullptr;

  if (col.reusable && st.log.faults.size() == faults_before && unchanged(obj, items, before, dicts)) {
    auto s = std::make_shared<ListSnapshot>();
    s->key = key;
    Py_INCREF(obj);
    s->elems.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* e = PySequence_Fast_GET_ITEM(items, i);
      Py_INCREF(e);
      s->elems.push_back(e);
    }
    s->versions = std::move(before.versions);
    (*s).*slot = std::move(list.own);
    s->texts = std::move(col.texts);
    s->strs = std::move(col.strs);
    list.own.clear();
    list.shared = &((*s).*slot);
    st.snapshots.push_back(s);
    SnapshotCache::instance().put(std::move(s));
  } else {
    for (auto& t : col.texts) st.log.texts.push_back(std::move(t));
    for (auto& o : col.strs) st.keep.push_back(std::move(o));
  }
}

void convert_external(PyObject* L, CallState& st) {
  const Keys& k = keys();
  auto& list = st.log.external;
  nb::object v, seq;
  list.read_fault = read_key(L, k.external, st, v);
  if (list.read_fault >= 0) return;
  list.iter_fault = items_of(v.ptr(), st, seq);
  if (list.iter_fault >= 0) return;
  Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.ptr());
  list.own.resize(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* x = PySequence_Fast_GET_ITEM(seq.ptr(), i);
    verify::External& ext = list.own[static_cast<std::size_t>(i)];
    nb::object a;
    ext.fault = read_key(x, k.args, st, a);
    if (ext.fault < 0) ext.fault = to_json(a.ptr(), ext.args, st);
  }
}

}  // namespace

void convert_log(PyObject* L, CallState& st) {
  const Keys& k = keys();
  convert_list(L, k.events, ListKind::Events, st.log.events, &ListSnapshot::events, st, convert_event);
  convert_external(L, st);
  convert_list(L, k.written, ListKind::Written, st.log.written, &ListSnapshot::written, st, convert_written_entry);
  convert_list(L, k.commands, ListKind::Commands, st.log.commands, &ListSnapshot::commands, st, convert_command);
}

void clear_snapshots() { SnapshotCache::instance().clear(); }
std::size_t snapshot_count() { return SnapshotCache::instance().size(); }

}  // namespace vorlane::py
