// Reused conversions of the run log's lists.
//
// The claims of one report are verified one call at a time against the same
// run log, and converting its thousands of events on every call would cost
// more than the matching, all of it under the GIL.  So the conversion of a
// list (events, commands, written) is kept, with strong references to the
// list, its elements and the texts it refers to, and reused while nothing it
// was made from can have changed: the same list object of the same length,
// holding the same element objects, each element dict with the same version
// tag (see verify_dict_version.hpp).  Only conversions
// that recorded no fault, read only values that cannot change in place
// (exact dicts; exact str or None for texts; None, bool, exact int, float or
// str for flags and exit codes), and whose list and elements were the same
// after converting as before (host code may run meanwhile, a key's __eq__
// say) are kept.
//
// Keyed on object identity and dict version tags, which only the host has:
// this cache decides nothing about verdicts, it only spares work.
#pragma once

#include <Python.h>
#include <nanobind/nanobind.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "verify/runlog.hpp"
#include "verify_dict_version.hpp"

namespace vorlane::py {

namespace nb = nanobind;

enum class ListKind : int { Events, Commands, Written };

struct SnapshotKey {
  ListKind kind;
  PyObject* list;
  const std::string* home;
  bool operator==(const SnapshotKey& o) const { return kind == o.kind && list == o.list && home == o.home; }
};

struct ListSnapshot {
  SnapshotKey key{};
  std::vector<PyObject*> elems;  // strong references
  std::vector<uint64_t> versions;
  std::vector<verify::Event> events;
  std::vector<verify::Command> commands;
  std::vector<verify::TextValue> written;
  std::vector<std::shared_ptr<const verify::LogText>> texts;
  std::vector<nb::object> strs;

  ListSnapshot() = default;
  ListSnapshot(const ListSnapshot&) = delete;
  ListSnapshot& operator=(const ListSnapshot&) = delete;
  ~ListSnapshot();  // with the GIL held
};

// True when `list` (an exact list or tuple) still holds what `s` was made
// from.
bool fresh(const ListSnapshot& s, PyObject* list);

// The state of a list's elements before converting them: their version
// tags, or `ok` false when some element is not an exact dict.
struct ElementVersions {
  std::vector<uint64_t> versions;
  bool ok = true;
};
ElementVersions element_versions(PyObject* items);

// True when `list` holds exactly the objects of `items` (the copy that was
// converted), and each has the version tag recorded in `before`.
bool unchanged(PyObject* list, PyObject* items, const ElementVersions& before, bool dicts);

// The kept conversions, most recently made first, a few run logs' worth.
class SnapshotCache {
 public:
  static SnapshotCache& instance();
  std::shared_ptr<ListSnapshot> find(const SnapshotKey& k);
  void put(std::shared_ptr<ListSnapshot> s);
  void clear();
  std::size_t size();

 private:
  static constexpr std::size_t kMax = 12;
  std::mutex mu_;
  std::vector<std::shared_ptr<ListSnapshot>> list_;
};

}  // namespace vorlane::py
