#include "text/seeded_hash.hpp"

#include <random>

namespace vorlane {

const HashSecrets& hash_secrets() {
  static const HashSecrets k = [] {
    std::random_device rd;
    auto draw = [&] {
      // Odd, with both halves busy, so that no multiply loses the state.
      std::uint64_t x = (std::uint64_t(rd()) << 32) ^ rd();
      return x | 0x8000000100000001ull;
    };
    return HashSecrets{draw(), draw(), draw()};
  }();
  return k;
}

}  // namespace vorlane
