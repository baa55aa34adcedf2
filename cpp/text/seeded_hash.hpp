// A hash of texts keyed by a per-process random seed, for tables filled
// from untrusted input: a sender cannot prepare texts that all land in the
// same slot.  Eight bytes a step, each folded in by a 64x64->128-bit
// multiply with secret constants (the step of the wyhash family).
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace vorlane {

struct HashSecrets {
  std::uint64_t s0, s1, s2;
};

// The process's secrets (drawn once, on first use).
const HashSecrets& hash_secrets();

inline std::uint64_t hash_fold(std::uint64_t a, std::uint64_t b) {
  unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
}

inline std::uint64_t seeded_hash(std::string_view s) {
  const HashSecrets& k = hash_secrets();
  const auto* p = s.data();
  std::size_t n = s.size(), i = 0;
  std::uint64_t h = k.s0 ^ n;
  for (; i + 16 <= n; i += 16) {
    std::uint64_t a, b;
    std::memcpy(&a, p + i, 8);
    std::memcpy(&b, p + i + 8, 8);
    h = hash_fold(a ^ k.s1, b ^ h);
  }
  std::uint64_t a = 0, b = 0;
  std::size_t left = n - i;
  std::memcpy(&a, p + i, left < 8 ? left : 8);
  if (left > 8) std::memcpy(&b, p + i + 8, left - 8);
  h = hash_fold(a ^ k.s1, b ^ h ^ k.s2);
  return hash_fold(h ^ k.s2, n ^ k.s1);
}

}  // namespace vorlane
