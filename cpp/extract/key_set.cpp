#include "extract/key_set.hpp"

#include <functional>

namespace vorlane::extract {

bool KeySet::insert(std::string_view key) {
  if (2 * (count_ + 1) > slots_.size()) grow();
  const std::size_t h = std::hash<std::string_view>{}(key);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = h & mask;; i = (i + 1) & mask) {
    Slot& s = slots_[i];
    if (!s.used) {
      s = Slot{h, keys_.size(), key.size(), true};
      keys_.append(key);
      ++count_;
      return true;
    }
    if (s.hash == h && std::string_view(keys_).substr(s.offset, s.length) == key) return false;
  }
}

void KeySet::grow() {
  std::vector<Slot> old(slots_.empty() ? 16 : 2 * slots_.size());
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& s : old) {
    if (!s.used) continue;
    std::size_t i = s.hash & mask;
    while (slots_[i].used) i = (i + 1) & mask;
    slots_[i] = s;
  }
}

}  // namespace vorlane::extract
