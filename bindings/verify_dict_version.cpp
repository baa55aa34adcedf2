#include "verify_dict_version.hpp"

#include <mutex>
#include <unordered_map>

namespace vorlane::py {

#if PY_VERSION_HEX < 0x030C0000

std::uint64_t dict_version(PyObject* d) { return reinterpret_cast<PyDictObject*>(d)->ma_version_tag; }
bool dict_versions_available() { return true; }

#else

namespace {

struct Watched {
  std::mutex mu;
  std::unordered_map<PyObject*, std::uint64_t> version;  // the dicts watched so far, while they live
  std::uint64_t next = 1;
  int id = -1;  // the watcher, or -1 when none could be had
};

Watched& watched() {
  static Watched* w = new Watched;  // never destroyed: the watcher may run until the interpreter ends
  return *w;
}

int on_change(PyDict_WatchEvent event, PyObject* d, PyObject*, PyObject*) {
  Watched& w = watched();
  std::lock_guard<std::mutex> lock(w.mu);
  auto it = w.version.find(d);
  if (it == w.version.end()) return 0;
  if (event == PyDict_EVENT_DEALLOCATED)
    w.version.erase(it);  // the address may be reused by a new dict
  else
    it->second = w.next++;
  return 0;
}

int watcher_id() {
  static const int id = [] {
    int i = PyDict_AddWatcher(on_change);
    if (i < 0) PyErr_Clear();
    return i;
  }();
  return id;
}

}  // namespace

bool dict_versions_available() { return watcher_id() >= 0; }

std::uint64_t dict_version(PyObject* d) {
  int id = watcher_id();
  Watched& w = watched();
  {
    std::lock_guard<std::mutex> lock(w.mu);
    if (auto it = w.version.find(d); it != w.version.end()) return it->second;
  }
  if (id < 0 || PyDict_Watch(id, d) < 0) {
    PyErr_Clear();
    std::lock_guard<std::mutex> lock(w.mu);
    return w.next++;  // never equal to a later answer: the conversion is not reused
  }
  std::lock_guard<std::mutex> lock(w.mu);
  auto [it, inserted] = w.version.try_emplace(d, w.next);
  if (inserted) ++w.next;
  return it->second;
}

#endif

}  // namespace vorlane::py
