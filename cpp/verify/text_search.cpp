#include "verify/text_search.hpp"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace vorlane::verify {

namespace {

// Rough frequency of each byte in normalised (lower-case) log text, used to
// pick the two bytes of a needle that are probed first.  Only the order
// matters.
struct Frequency {
  uint16_t f[256];
  constexpr Frequency() : f() {
    for (int b = 0; b < 256; ++b) f[b] = b >= 0x80 ? 1 : 2;
    const char* letters = "etaoinshrdlcumwfgypbvkjxqz";
    const uint16_t lf[] = {120, 90, 80, 75, 70, 68, 63, 60, 60, 43, 40, 28, 28,
                           24,  24, 22, 20, 20, 19, 15, 10, 8,  2,  2,  1,  1};
    for (int i = 0; letters[i]; ++i) f[static_cast<unsigned char>(letters[i])] = lf[i];
    for (int d = '0'; d <= '9'; ++d) f[d] = 20;
    f[' '] = 150;
    f['\n'] = 30;
    f['.'] = 15; f['/'] = 15; f['_'] = 10; f['-'] = 10; f[':'] = 8; f['"'] = 8; f[','] = 8;
    f['='] = 5; f['('] = 5; f[')'] = 5; f['\''] = 4;
  }
};
constexpr Frequency kFrequency;

// Candidate starts are positions s with t[s + i1] == n[i1] and
// t[s + i2] == n[i2]; each is then compared in full.
bool find_scalar(const char* t, std::size_t from, std::size_t end, std::string_view n, std::size_t i1,
                 std::size_t i2) {
  const std::size_t m = n.size();
  const char c1 = n[i1], c2 = n[i2];
  for (std::size_t s = from; s + m <= end; ++s)
    if (t[s + i1] == c1 && t[s + i2] == c2 && std::memcmp(t + s, n.data(), m) == 0) return true;
  return false;
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) bool find_avx2(const char* t, std::size_t from, std::size_t end,
                                               std::string_view n, std::size_t i1, std::size_t i2) {
  const std::size_t m = n.size();
  const __m256i b1 = _mm256_set1_epi8(n[i1]), b2 = _mm256_set1_epi8(n[i2]);
  std::size_t s = from;
  // Every start s..s+31 of a block is a valid start (s + 31 + m <= end).
  for (; s + 31 + m <= end; s += 32) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + s + i1));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + s + i2));
    auto mask = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(a, b1), _mm256_cmpeq_epi8(b, b2))));
    while (mask) {
      unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
      if (std::memcmp(t + s + bit, n.data(), m) == 0) return true;
      mask &= mask - 1;
    }
  }
  return find_scalar(t, s, end, n, i1, i2);
}

bool find_sse2(const char* t, std::size_t from, std::size_t end, std::string_view n, std::size_t i1,
               std::size_t i2) {
  const std::size_t m = n.size();
  const __m128i b1 = _mm_set1_epi8(n[i1]), b2 = _mm_set1_epi8(n[i2]);
  std::size_t s = from;
  for (; s + 15 + m <= end; s += 16) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + s + i1));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + s + i2));
    auto mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, b1), _mm_cmpeq_epi8(b, b2))));
    while (mask) {
      unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
      if (std::memcmp(t + s + bit, n.data(), m) == 0) return true;
      mask &= mask - 1;
    }
  }
  return find_scalar(t, s, end, n, i1, i2);
}

using FindFn = bool (*)(const char*, std::size_t, std::size_t, std::string_view, std::size_t, std::size_t);
FindFn pick_find() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? find_avx2 : find_sse2;
}
#else
using FindFn = bool (*)(const char*, std::size_t, std::size_t, std::string_view, std::size_t, std::size_t);
FindFn pick_find() { return find_scalar; }
#endif

}  // namespace

bool find_probed(const char* t, std::size_t from, std::size_t end, std::string_view needle, std::size_t i1,
                 std::size_t i2) {
  if (end < from || end - from < needle.size()) return false;
  if (needle.size() == 1) return std::memchr(t + from, needle[0], end - from) != nullptr;
  static const FindFn find = pick_find();
  return find(t, from, end, needle, i1, i2);
}

NormText::NormText(std::string s) : text(std::move(s)) {
  const std::size_t n = text.size();
  if (n < kFilterMin) return;
  chunk_shift = 10;
  while (chunk_shift < kMaxChunkShift && (std::size_t(1) << chunk_shift) < n) ++chunk_shift;
  const std::size_t size = chunk_bytes(), words = chunk_words();
  const std::size_t chunks = (n + size - 1) / size;
  filter.assign(chunks * words, 0);
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned shift = 32 - chunk_shift;
  for (std::size_t c = 0; c < chunks; ++c) {
    uint64_t* bits = filter.data() + c * words;
    // Runs whose first byte lies in the chunk (the last ones may end in the next).
    std::size_t from = c * size, to = std::min(n - 2, from + size);
    for (std::size_t i = from; i < to; ++i) {
      uint32_t b = gram_hash(p[i], p[i + 1], p[i + 2]) >> shift;
      bits[b >> 6] |= uint64_t(1) << (b & 63);
    }
  }
}

Needles::Needles(std::vector<std::string> needles) : needles_(std::move(needles)) {
  if (needles_.empty()) return;
  min_len_ = max_len_ = needles_.front().size();
  for (const auto& n : needles_) {
    min_len_ = std::min(min_len_, n.size());
    max_len_ = std::max(max_len_, n.size());
  }
  if (min_len_ == 0) return;  // an empty needle is found everywhere

  // Three-byte runs in every needle.
  std::vector<uint32_t> common;
  for (std::size_t k = 0; k < needles_.size(); ++k) {
    std::vector<uint32_t> here;
    const auto* n = reinterpret_cast<const unsigned char*>(needles_[k].data());
    for (std::size_t i = 0; i + 2 < needles_[k].size(); ++i) here.push_back(uint32_t(n[i]) << 16 | uint32_t(n[i + 1]) << 8 | n[i + 2]);
    std::sort(here.begin(), here.end());
    here.erase(std::unique(here.begin(), here.end()), here.end());
    if (k == 0) {
      common = std::move(here);
    } else {
      std::vector<uint32_t> both;
      std::set_intersection(common.begin(), common.end(), here.begin(), here.end(), std::back_inserter(both));
      common = std::move(both);
    }
  }
  // Rare runs first: they are the ones that reject a chunk.
  auto freq = [](uint32_t g) {
    return uint64_t(kFrequency.f[g >> 16]) * kFrequency.f[(g >> 8) & 0xFF] * kFrequency.f[g & 0xFF];
  };
  std::sort(common.begin(), common.end(), [&](uint32_t a, uint32_t b) { return freq(a) < freq(b); });
  for (uint32_t g : common) gram_hashes_.push_back(gram_hash(g >> 16, (g >> 8) & 0xFF, g & 0xFF));

  for (const auto& n : needles_) {
    // The two rarest bytes, at different offsets.
    Probe p;
    for (std::size_t i = 1; i < n.size(); ++i)
      if (kFrequency.f[static_cast<unsigned char>(n[i])] < kFrequency.f[static_cast<unsigned char>(n[p.i1])])
        p.i1 = static_cast<uint32_t>(i);
    p.i2 = p.i1;
    for (std::size_t i = 0; i < n.size(); ++i) {
      if (i == p.i1) continue;
      if (p.i2 == p.i1 ||
          kFrequency.f[static_cast<unsigned char>(n[i])] < kFrequency.f[static_cast<unsigned char>(n[p.i2])])
        p.i2 = static_cast<uint32_t>(i);
    }
    probes_.push_back(p);
  }
}

bool Needles::search(std::string_view t) const { return search_starts(t, 0, t.size()); }

bool Needles::search_starts(std::string_view t, std::size_t from, std::size_t to) const {
  // The region that holds every occurrence starting in [from, to).
  std::size_t end = std::min(t.size(), to + max_len_ - 1);
  if (end < from || end - from < min_len_) return false;
  for (std::size_t k = 0; k < needles_.size(); ++k) {
    const std::string& n = needles_[k];
    if (n.empty()) return true;
    if (n.size() <= end - from && find_probed(t.data(), from, end, n, probes_[k].i1, probes_[k].i2)) return true;
  }
  return false;
}

bool Needles::found_in(std::string_view t) const {
  if (needles_.empty() || t.size() < min_len_) return false;
  return search(t);
}

bool Needles::chunk_may_start(const NormText& t, std::size_t c) const {
  // An occurrence that starts in chunk c lies in chunks c and c + 1 (needles
  // are at most one chunk long here), so its runs are in their union.
  const std::size_t words = t.chunk_words();
  const uint64_t* a = t.filter.data() + c * words;
  const uint64_t* b = c + 1 < t.chunks() ? a + words : nullptr;
  for (uint32_t h : gram_hashes_) {
    uint32_t bit = t.bit_of(h);
    uint64_t m = uint64_t(1) << (bit & 63);
    if (!(a[bit >> 6] & m) && !(b && (b[bit >> 6] & m))) return false;
  }
  return true;
}

bool Needles::found_in(const NormText& nt) const {
  const std::string& t = nt.text;
  if (needles_.empty() || t.size() < min_len_) return false;
  if (!nt.has_filter() || gram_hashes_.empty() || max_len_ > nt.chunk_bytes()) return search(t);
  const std::size_t chunks = nt.chunks();
  std::size_t c = 0;
  while (c < chunks) {
    if (!chunk_may_start(nt, c)) {
      ++c;
      continue;
    }
    std::size_t run = c + 1;
    while (run < chunks && chunk_may_start(nt, run)) ++run;
    if (search_starts(t, c * nt.chunk_bytes(), std::min(t.size(), run * nt.chunk_bytes()))) return true;
    c = run;
  }
  return false;
}

}  // namespace vorlane::verify
