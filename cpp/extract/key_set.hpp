// The set of near-duplicate keys seen so far in one report: every key in
// one buffer, found through an open-addressing table of hashes, so that
// adding a key costs no allocation of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane::extract {

class KeySet {
 public:
  // Adds `key`; true when it was not there yet.
  bool insert(std::string_view key);

 private:
  // A table slot: the entry number plus one (0: free) and the low half of
  // the key's hash, 8 bytes, so that a large table stays compact.
  struct Slot {
    std::uint32_t entry = 0, hash = 0;
  };
  struct Entry {
    std::size_t offset, length, hash;
  };
  void grow();

  std::string keys_;            // the keys, one after another
  std::vector<Entry> entries_;  // where each key lies, in the order added
  std::vector<Slot> slots_;     // a power of two in size, at most half used
};

}  // namespace vorlane::extract
