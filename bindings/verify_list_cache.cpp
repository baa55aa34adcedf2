#include "verify_list_cache.hpp"

namespace vorlane::py {

ListSnapshot::~ListSnapshot() {
  Py_XDECREF(key.list);
  for (PyObject* e : elems) Py_DECREF(e);
}

bool fresh(const ListSnapshot& s, PyObject* list) {
  Py_ssize_t n = PySequence_Fast_GET_SIZE(list);
  if (static_cast<std::size_t>(n) != s.elems.size()) return false;
  PyObject** items = PySequence_Fast_ITEMS(list);
  const bool dicts = s.key.kind != ListKind::Written;
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (items[i] != s.elems[static_cast<std::size_t>(i)]) return false;
    if (dicts && dict_version(items[i]) != s.versions[static_cast<std::size_t>(i)]) return false;
  }
  return true;
}

ElementVersions element_versions(PyObject* items) {
  ElementVersions ev;
  Py_ssize_t n = PySequence_Fast_GET_SIZE(items);
  ev.versions.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* e = PySequence_Fast_GET_ITEM(items, i);
    if (!PyDict_CheckExact(e)) {
      ev.ok = false;
      ev.versions.clear();
      return ev;
    }
    ev.versions.push_back(dict_version(e));
  }
  return ev;
}

bool unchanged(PyObject* list, PyObject* items, const ElementVersions& before, bool dicts) {
  Py_ssize_t n = PySequence_Fast_GET_SIZE(items);
  if (PySequence_Fast_GET_SIZE(list) != n) return false;
  if (dicts && (!before.ok || before.versions.size() != static_cast<std::size_t>(n))) return false;
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* e = PySequence_Fast_GET_ITEM(items, i);
    if (PySequence_Fast_GET_ITEM(list, i) != e) return false;
    if (dicts && dict_version(e) != before.versions[static_cast<std::size_t>(i)]) return false;
  }
  return true;
}

SnapshotCache& SnapshotCache::instance() {
  static SnapshotCache* c = new SnapshotCache;  // never destroyed (holds Python references)
  return *c;
}

std::shared_ptr<ListSnapshot> SnapshotCache::find(const SnapshotKey& k) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& s : list_)
    if (s->key == k) return s;
  return nullptr;
}

void SnapshotCache::put(std::shared_ptr<ListSnapshot> s) {
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

void SnapshotCache::clear() {
  std::vector<std::shared_ptr<ListSnapshot>> drop;
  {
    std::lock_guard<std::mutex> lock(mu_);
    drop.swap(list_);
  }
}

std::size_t SnapshotCache::size() {
  std::lock_guard<std::mutex> lock(mu_);
  return list_.size();
}

}  // namespace vorlane::py
