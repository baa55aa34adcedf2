#include "extract/key_set.hpp"

#include "text/seeded_hash.hpp"

namespace vorlane::extract {

bool KeySet::insert(std::string_view key) {
  if (2 * (entries_.size() + 1) > slots_.size()) grow();
  const std::size_t h = seeded_hash(key);
  const auto h32 = static_cast<std::uint32_t>(h);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = h & mask;; i = (i + 1) & mask) {
    Slot& s = slots_[i];
    if (!s.entry) {
      entries_.push_back(Entry{keys_.size(), key.size(), h});
      keys_.append(key);
      s = Slot{static_cast<std::uint32_t>(entries_.size()), h32};
      return true;
    }
    if (s.hash == h32) {
      const Entry& e = entries_[s.entry - 1];
      if (e.hash == h && std::string_view(keys_).substr(e.offset, e.length) == key) return false;
    }
  }
}

void KeySet::grow() {
  slots_.assign(slots_.empty() ? 16 : 2 * slots_.size(), Slot{});
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t k = 0; k < entries_.size(); ++k) {
    std::size_t i = entries_[k].hash & mask;
    while (slots_[i].entry) i = (i + 1) & mask;
    slots_[i] = Slot{static_cast<std::uint32_t>(k + 1), static_cast<std::uint32_t>(entries_[k].hash)};
  }
}

}  // namespace vorlane::extract
