#include "verify_text_cache.hpp"

#include "pystr.hpp"

namespace vorlane::py {

std::shared_ptr<const verify::LogText> make_log_text(PyObject* s, std::shared_ptr<const std::string> home) {
  std::string storage;
  std::string_view v = text_of(s, storage);
  if (v.data() == storage.data() && !storage.empty())
    return std::make_shared<const verify::LogText>(std::move(storage), std::move(home));
  return std::make_shared<const verify::LogText>(v, std::move(home));
}

NormCache& NormCache::instance() {
  // Never destroyed: entries hold Python references, which must not be
  // released after the interpreter is gone.
  static NormCache* c = new NormCache;
  return *c;
}

std::shared_ptr<const std::string> NormCache::home(const std::string& path) {
  std::vector<PyObject*> drop;
  std::shared_ptr<const std::string> h;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = homes_.find(path);
    if (it != homes_.end()) return it->second;
    if (homes_.size() >= 16) {
      // Home directories hardly ever change; if they keep changing, start
      // over rather than keep entries for every one of them.
      for (auto& [k, e] : map_) drop.push_back(e.obj);
      map_.clear();
      lru_.clear();
      bytes_ = 0;
      homes_.clear();
    }
    h = std::make_shared<const std::string>(path);
    homes_.emplace(path, h);
  }
  for (PyObject* o : drop) Py_DECREF(o);
  return h;
}

std::shared_ptr<const verify::LogText> NormCache::get(PyObject* s, const std::shared_ptr<const std::string>& home) {
  Key key{s, home.get()};
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = map_.find(key);
    if (it != map_.end()) {
      ++hits_;
      lru_.splice(lru_.begin(), lru_, it->second.lru);
      return it->second.text;
    }
    ++misses_;
  }
  std::shared_ptr<const verify::LogText> t = make_log_text(s, home);
  std::vector<PyObject*> drop;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (limit_ == 0) return t;
    auto [it, inserted] = map_.try_emplace(key);
    if (!inserted) return it->second.text;  // made meanwhile (another thread)
    Py_INCREF(s);
    Entry& e = it->second;
    e.obj = s;
    e.text = t;
    // The str's text, its normalised copy and the bookkeeping.
    e.charge = 2 * t->raw().size() + t->memory() + 160;
    lru_.push_front(key);
    e.lru = lru_.begin();
    bytes_ += e.charge;
    drop = trim_locked();
  }
  for (PyObject* o : drop) Py_DECREF(o);
  return t;
}

std::vector<PyObject*> NormCache::trim_locked() {
  std::vector<PyObject*> drop;
  while (bytes_ > limit_ && !lru_.empty()) {
    Key k = lru_.back();
    lru_.pop_back();
    auto it = map_.find(k);
    bytes_ -= it->second.charge;
    drop.push_back(it->second.obj);
    map_.erase(it);
  }
  return drop;
}

NormCache::Info NormCache::info() {
  std::lock_guard<std::mutex> lock(mu_);
  std::size_t normalised = 0;
  for (auto& [k, e] : map_) normalised += e.text->normalised();
  return {map_.size(), bytes_, limit_, normalised, hits_, misses_};
}

void NormCache::clear() {
  std::vector<PyObject*> drop;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& [k, e] : map_) drop.push_back(e.obj);
    map_.clear();
    lru_.clear();
    bytes_ = 0;
    hits_ = misses_ = 0;
  }
  for (PyObject* o : drop) Py_DECREF(o);
}

void NormCache::set_limit(std::size_t bytes) {
  std::vector<PyObject*> drop;
  {
    std::lock_guard<std::mutex> lock(mu_);
    limit_ = bytes;
    drop = trim_locked();
  }
  for (PyObject* o : drop) Py_DECREF(o);
}

}  // namespace vorlane::py
