// The cache of normalised log texts, shared by all calls of the verdict
// module.
//
// A report has dozens of claims and each is verified by its own call against
// the same run log, whose texts run to megabytes.  A Python str is immutable,
// so the LogText made for one str object (its normalised form, its pattern
// test answers) stays right for as long as that object lives; the cache holds
// a strong reference to each str it keys on, so an object's id cannot be
// reused by another string while the entry exists.  The home directory in
// effect is part of the key.
//
// Bounded: every entry is charged about the bytes it keeps alive (the str's
// UTF-8 text and its normalised copy); when the total passes the limit the
// least recently used entries go.  All member functions are called with the
// GIL held; the mutex makes them safe even so.
#pragma once

#include <Python.h>

#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "verify/log_text.hpp"

namespace vorlane::py {

class NormCache {
 public:
  static NormCache& instance();

  // The LogText of the str `s` under `home` (an interned home path, see
  // home()); `s` must be a str.  Made and cached on first request.
  std::shared_ptr<const verify::LogText> get(PyObject* s, const std::shared_ptr<const std::string>& home);

  // The interned copy of a home path (one shared object per distinct path).
  std::shared_ptr<const std::string> home(const std::string& path);

  struct Info {
    std::size_t entries, bytes, limit, normalised, hits, misses;
  };
  Info info();
  void clear();
  // Sets the byte limit (0 disables caching) and trims to it.
  void set_limit(std::size_t bytes);

 private:
  struct Key {
    PyObject* obj;
    const std::string* home;
    bool operator==(const Key& o) const { return obj == o.obj && home == o.home; }
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const {
      return std::hash<const void*>()(k.obj) ^ (std::hash<const void*>()(k.home) << 1);
    }
  };
  struct Entry {
    PyObject* obj;  // strong reference
    std::shared_ptr<const verify::LogText> text;
    std::size_t charge;
    std::list<Key>::iterator lru;
  };

  // Drops entries beyond the limit; returns the references to release
  // (after the mutex is let go, since releasing may run host code).
  std::vector<PyObject*> trim_locked();

  std::mutex mu_;
  std::unordered_map<Key, Entry, KeyHash> map_;
  std::list<Key> lru_;  // most recently used first
  std::map<std::string, std::shared_ptr<const std::string>> homes_;
  std::size_t bytes_ = 0;
  std::size_t limit_ = std::size_t(1) << 30;
  std::size_t hits_ = 0, misses_ = 0;
};

// A new LogText for the str `s` (not cached).
std::shared_ptr<const verify::LogText> make_log_text(PyObject* s, std::shared_ptr<const std::string> home);

}  // namespace vorlane::py
