#include "verify_convert.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <unordered_set>

#include "pystr.hpp"
#include "verify_cache.hpp"
#include "verify_dict_version.hpp"

namespace vorlane::py {

using verify::Error;
using verify::TextValue;

namespace {

// Interned key objects, made once.
struct Keys {
  PyObject *events, *external, *written, *commands, *tool, *wrote, *payload, *command, *output, *args,
      *exit_code, *zero, *zero_text;
  Keys() {
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
};

const Keys& keys() {
  static const Keys* k = new Keys;  // never freed: they live as long as the module
  return *k;
}

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

// Reads m[key] as Python's subscription does; a failure becomes a fault.
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

// The items of a traversable value (a list or tuple as it is, any other
// iterable materialised); a failure becomes a fault.
int32_t items_of(PyObject* v, CallState& st, nb::object& seq) {
  std::string msg = "'" + type_name(v) + "' object is not iterable";
  PyObject* s = PySequence_Fast(v, msg.c_str());
  if (!s) return capture(st);
  seq = nb::steal(s);
  return -1;
}

// Success of an exit code: None, then == 0 (not for a str), then == "0".
// Returns -1 with a Python error set when a comparison fails.
int exit_success(PyObject* ec) {
  const Keys& k = keys();
  if (ec == Py_None) return 1;
  if (ec == Py_True) return 0;
  if (ec == Py_False) return 1;
  if (PyLong_CheckExact(ec)) {
    int overflow = 0;
    long v = PyLong_AsLongAndOverflow(ec, &overflow);
    return !overflow && v == 0;
  }
  if (PyFloat_CheckExact(ec)) return PyFloat_AS_DOUBLE(ec) == 0.0;
  if (PyUnicode_CheckExact(ec)) return PyUnicode_CompareWithASCIIString(ec, "0") == 0;
  if (!PyUnicode_Check(ec)) {
    int r = PyObject_RichCompareBool(ec, k.zero, Py_EQ);
    if (r != 0) return r;  // 1, or -1 on error
  }
  return PyObject_RichCompareBool(ec, k.zero_text, Py_EQ);
}

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
      if (PyUnicode_CompareWithASCIIString(t, "read_file") == 0 ||
          PyUnicode_CompareWithASCIIString(t, "search_files") == 0 ||
          PyUnicode_CompareWithASCIIString(t, "skill_view") == 0)
        ev.tool = verify::Event::Tool::ReadTool;
      else if (PyUnicode_CompareWithASCIIString(t, "terminal") == 0)
        ev.tool = verify::Event::Tool::Terminal;
      else if (PyUnicode_CompareWithASCIIString(t, "execute_code") == 0)
        ev.tool = verify::Event::Tool::ExecuteCode;
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
    int ok = exit_success(ec.ptr());
    if (ok < 0) {
      c.exit_fault = capture(st);
    } else {
      c.success = ok == 1;
      if (!c.success) {
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
  }

  read_text_field(r, k.output, "'output' of a command record", c.output, st, col);
}

void convert_written_entry(PyObject* p, verify::TextValue& v, CallState& st, Collect& col) {
  if (!plain_text(p)) col.reusable = false;
  v = text_value(p, "an entry of 'written'", st);
}

// ---------------------------------------------------------------------------
// Reused conversions
//
// The claims of one report are verified one call at a time against the same
// run log, and converting its thousands of events on every call would cost
// more than the matching, all of it under the GIL.  So the conversion of a
// list (events, commands, written) is kept, with strong references to the
// list, its elements and the texts it refers to, and reused while nothing it
// was made from can have changed: the same list object of the same length,
// holding the same element objects, each element dict with the same version
// tag (CPython bumps a dict's version on every change).  Only conversions
// that recorded no fault and read only values that cannot change in place
// (exact dicts; exact str or None for texts; None, bool, exact int, float or
// str for flags and exit codes) are kept.

struct SnapshotKey {
  int kind;  // 0 events, 1 commands, 2 written
  PyObject* list;
  const std::string* home;
  bool operator==(const SnapshotKey& o) const { return kind == o.kind && list == o.list && home == o.home; }
};

}  // namespace

struct ListSnapshot {
  SnapshotKey key{};
  std::vector<PyObject*> elems;   // strong references
  std::vector<uint64_t> versions;
  std::vector<verify::Event> events;
  std::vector<verify::Command> commands;
  std::vector<verify::TextValue> written;
  std::vector<std::shared_ptr<const verify::LogText>> texts;
  std::vector<nb::object> strs;

  ListSnapshot() = default;
  ListSnapshot(const ListSnapshot&) = delete;
  ListSnapshot& operator=(const ListSnapshot&) = delete;
  ~ListSnapshot() {  // with the GIL held
    Py_XDECREF(key.list);
    for (PyObject* e : elems) Py_DECREF(e);
  }
};

namespace {


bool fresh(const ListSnapshot& s, PyObject* list) {
  Py_ssize_t n = PySequence_Fast_GET_SIZE(list);
  if (static_cast<std::size_t>(n) != s.elems.size()) return false;
  PyObject** items = PySequence_Fast_ITEMS(list);
  const bool dicts = s.key.kind != 2;
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (items[i] != s.elems[static_cast<std::size_t>(i)]) return false;
    if (dicts && dict_version(items[i]) != s.versions[static_cast<std::size_t>(i)]) return false;
  }
  return true;
}

class SnapshotCache {
 public:
  static SnapshotCache& instance() {
    static SnapshotCache* c = new SnapshotCache;  // never destroyed (holds Python references)
    return *c;
  }

  std::shared_ptr<ListSnapshot> find(const SnapshotKey& k) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& s : list_)
      if (s->key == k) return s;
    return nullptr;
  }

  void put(std::shared_ptr<ListSnapshot> s) {
    std::vector<std::shared_ptr<ListSnapshot>> drop;
    {
      std::lock_guard<std::mutex> lock(mu_);
      for (auto& old : list_) {
        if (old->key == s->key) {
          drop.push_back(std::move(old));
          old = std::move(s);
          break;
        }
      }
      if (s) {
        list_.insert(list_.begin(), std::move(s));
        while (list_.size() > kMax) {
          drop.push_back(std::move(list_.back()));
          list_.pop_back();
        }
      }
    }
    // `drop` releases its references here, outside the lock.
  }

  void clear() {
    std::vector<std::shared_ptr<ListSnapshot>> drop;
    {
      std::lock_guard<std::mutex> lock(mu_);
      drop.swap(list_);
    }
  }

  std::size_t size() {
    std::lock_guard<std::mutex> lock(mu_);
    return list_.size();
  }

 private:
  static constexpr std::size_t kMax = 12;  // a few run logs' worth of lists
  std::mutex mu_;
  std::vector<std::shared_ptr<ListSnapshot>> list_;
};

// Converts one list of the log, reusing a kept conversion when it is fresh.
// `convert(element, item, st, col)` converts one element.
template <class T, class Convert>
void convert_list(PyObject* L, PyObject* key_obj, int kind, verify::LogList<T>& list,
                  std::vector<T> ListSnapshot::*slot, CallState& st, Convert convert) {
  nb::object v, seq;
  list.read_fault = read_key(L, key_obj, st, v);
  if (list.read_fault >= 0) return;
  PyObject* obj = v.ptr();
  const bool keepable = dict_versions_available() && st.use_cache && (PyList_CheckExact(obj) || PyTuple_CheckExact(obj));
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
  Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.ptr());
  list.own.resize(static_cast<std::size_t>(n));
  Collect col;
  col.reusable = keepable;
  std::size_t faults_before = st.log.faults.size();
  st.collect = &col;
  for (Py_ssize_t i = 0; i < n; ++i)
    convert(PySequence_Fast_GET_ITEM(seq.ptr(), i), list.own[static_cast<std::size_t>(i)], st, col);
  st.collect = nullptr;

  if (col.reusable && st.log.faults.size() == faults_before) {
    auto s = std::make_shared<ListSnapshot>();
    s->key = key;
    Py_INCREF(obj);
    s->elems.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* e = PySequence_Fast_GET_ITEM(obj, i);
      Py_INCREF(e);
      s->elems.push_back(e);
      if (kind != 2) s->versions.push_back(dict_version(e));
    }
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

HomeLookup find_home() {
  HomeLookup h;
  PyObject* s = nullptr;
  if (const char* env = std::getenv("HOME")) {
    s = PyUnicode_DecodeFSDefault(env);
  } else {
    struct passwd pw;
    struct passwd* res = nullptr;
    std::vector<char> buf(16384);
    int rc;
    while ((rc = getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &res)) == ERANGE && buf.size() < (1u << 22))
      buf.resize(buf.size() * 2);
    if (!res) {
      h.error = "cannot determine the home directory: HOME is not set and the account database has no entry "
                "for uid " + std::to_string(getuid());
      return h;
    }
    s = PyUnicode_DecodeFSDefault(pw.pw_dir);
  }
  if (!s) throw nb::python_error();
  std::string storage;
  std::string path(text_of(s, storage));
  Py_DECREF(s);
  while (!path.empty() && path.back() == '/') path.pop_back();
  if (path.empty()) path = "/";
  h.path = std::make_shared<const std::string>(std::move(path));
  return h;
}

void set_home(CallState& st, const HomeLookup& home) {
  if (home.path) {
    st.log.home = NormCache::instance().home(*home.path);
    st.use_cache = true;
  } else {
    st.log.home_fault = st.log.faults.add(Error::key(home.error));
    st.use_cache = false;
  }
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

// ---------------------------------------------------------------------------
// JSON values
//
// The order of the checks, the error messages and the handling of
// subclasses follow the standard serializer's C accelerator: None, True,
// False, str, int, float, list/tuple, dict; int and float subclasses are
// written with int's and float's own repr; a dict's members come from its
// items(); keys may be str, float, True/False/None or int.

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

}  // namespace

int32_t to_json(PyObject* root, json::Value& out, CallState& st) {
  struct Frame {
    PyObject* container;  // the list, tuple or dict (kept alive by its parent)
    nb::object seq;       // its fast sequence, or its list of items
    Py_ssize_t next, size;
    json::Value* target;
    bool is_dict;
  };
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
      PyObject* seq = PySequence_Fast(o, "_iterencode_list needs a sequence");
      if (!seq) return false;
      nb::object s = nb::steal(seq);
      Py_ssize_t n = PySequence_Fast_GET_SIZE(seq);
      *t = json::Value::array();
      if (n == 0) return true;
      if (open.count(o)) {
        PyErr_SetString(PyExc_ValueError, "Circular reference detected");
        return false;
      }
      open.insert(o);
      t->items.resize(static_cast<std::size_t>(n));
      stack.push_back({o, std::move(s), 0, n, t, false});
      return true;
    }
    *t = json::Value::object();
    if (PyDict_GET_SIZE(o) == 0) return true;
    if (open.count(o)) {
      PyErr_SetString(PyExc_ValueError, "Circular reference detected");
      return false;
    }
    PyObject* items = PyMapping_Items(o);
    if (!items) return false;
    nb::object s = nb::steal(items);
    open.insert(o);
    Py_ssize_t n = PyList_GET_SIZE(items);
    t->members.resize(static_cast<std::size_t>(n));
    stack.push_back({o, std::move(s), 0, n, t, true});
    return true;
  };

  if (!visit(root, &out)) return capture(st);
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next == f.size) {
      open.erase(f.container);
      stack.pop_back();
      continue;
    }
    Py_ssize_t i = f.next++;
    PyObject* child;
    json::Value* target;
    if (!f.is_dict) {
      child = PySequence_Fast_GET_ITEM(f.seq.ptr(), i);
      target = &f.target->items[static_cast<std::size_t>(i)];
    } else {
      PyObject* item = PyList_GET_ITEM(f.seq.ptr(), i);
      if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) {
        PyErr_SetString(PyExc_ValueError, "items must return 2-tuples");
        return capture(st);
      }
      PyObject* key = PyTuple_GET_ITEM(item, 0);
      auto& member = f.target->members[static_cast<std::size_t>(i)];
      if (PyUnicode_Check(key)) {
        std::string storage;
        member.first = std::string(text_of(key, storage));
      } else if (PyFloat_Check(key)) {
        if (!float_text(key, member.first)) return capture(st);
      } else if (key == Py_True) {
        member.first = "true";
      } else if (key == Py_False) {
        member.first = "false";
      } else if (key == Py_None) {
        member.first = "null";
      } else if (PyLong_Check(key)) {
        if (!int_text(key, member.first)) return capture(st);
      } else {
        PyErr_Format(PyExc_TypeError, "keys must be str, int, float, bool or None, not %.100s",
                     Py_TYPE(key)->tp_name);
        return capture(st);
      }
      child = PyTuple_GET_ITEM(item, 1);
      target = &member.second;
    }
    if (!visit(child, target)) return capture(st);  // may grow `stack`: `f` is not used after this
  }
  return -1;
}

void convert_log(PyObject* L, CallState& st) {
  const Keys& k = keys();
  convert_list(L, k.events, 0, st.log.events, &ListSnapshot::events, st, convert_event);
  convert_external(L, st);
  convert_list(L, k.written, 2, st.log.written, &ListSnapshot::written, st, convert_written_entry);
  convert_list(L, k.commands, 1, st.log.commands, &ListSnapshot::commands, st, convert_command);
}

void clear_snapshots() { SnapshotCache::instance().clear(); }
std::size_t snapshot_count() { return SnapshotCache::instance().size(); }

}  // namespace vorlane::py
