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
  struct Slot {
    std::size_t hash = 0, offset = 0, length = 0;
    bool used = false;
  };
  void grow();

  std::string keys_;         // the keys, one after another
  std::vector<Slot> slots_;  // a power of two in size, at most half used
  std::size_t count_ = 0;
};

}  // namespace vorlane::extract
