// Sixteen bytes at a time: masks of byte classes over a block, for scanners
// that would otherwise look at every byte of a mostly ASCII text.  Bit k of
// a mask stands for byte k of the block.  SSE2 where the target has it (every
// x86-64), plain loops elsewhere; both give the same masks.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vorlane::bytes {

inline constexpr std::size_t kBlock = 16;

// Masks of one block: bytes >= 0x80, and ASCII word bytes [A-Za-z0-9_].
struct BlockMasks {
  unsigned high = 0, word = 0;
};

inline BlockMasks classify(const unsigned char* p) {
  BlockMasks m;
#if defined(__SSE2__)
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  m.high = static_cast<unsigned>(_mm_movemask_epi8(v));
  // Signed compares: bytes >= 0x80 are negative and fall in no range.
  __m128i low = _mm_or_si128(v, _mm_set1_epi8(0x20));  // A-Z onto a-z
  __m128i alpha = _mm_and_si128(_mm_cmpgt_epi8(low, _mm_set1_epi8('a' - 1)), _mm_cmplt_epi8(low, _mm_set1_epi8('z' + 1)));
  __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('9' + 1)));
  __m128i under = _mm_cmpeq_epi8(v, _mm_set1_epi8('_'));
  m.word = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(alpha, digit), under)));
#else
  for (unsigned k = 0; k < kBlock; ++k) {
    unsigned char b = p[k];
    unsigned char l = b | 0x20;
    if (b >= 0x80) m.high |= 1u << k;
    else if ((l >= 'a' && l <= 'z') || (b >= '0' && b <= '9') || b == '_') m.word |= 1u << k;
  }
#endif
  return m;
}

// classify() for the last n - i < kBlock bytes of a text p[0, n): the
// block that ends at n, its masks shifted down to start at i (or, for a text
// shorter than a block, a zero-padded copy).  Bits past n are clear.
inline BlockMasks classify_tail(const unsigned char* p, std::size_t i, std::size_t n) {
  if (n >= kBlock) {
    BlockMasks m = classify(p + n - kBlock);
    unsigned shift = static_cast<unsigned>(kBlock - (n - i));
    m.high >>= shift;
    m.word >>= shift;
    return m;
  }
  unsigned char buf[kBlock] = {};
  for (std::size_t k = i; k < n; ++k) buf[k - i] = p[k];
  return classify(buf);
}

// Bytes equal to a, b or c.
inline unsigned equal_any(const unsigned char* p, unsigned char a, unsigned char b, unsigned char c) {
#if defined(__SSE2__)
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i r = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(a))),
                                        _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(b)))),
                           _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(c))));
  return static_cast<unsigned>(_mm_movemask_epi8(r));
#else
  unsigned m = 0;
  for (unsigned k = 0; k < kBlock; ++k)
    if (p[k] == a || p[k] == b || p[k] == c) m |= 1u << k;
  return m;
#endif
}

// Bytes that are ASCII capitals A-Z.
inline unsigned capitals(const unsigned char* p) {
#if defined(__SSE2__)
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i up = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('A' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('Z' + 1)));
  return static_cast<unsigned>(_mm_movemask_epi8(up));
#else
  unsigned m = 0;
  for (unsigned k = 0; k < kBlock; ++k)
    if (p[k] >= 'A' && p[k] <= 'Z') m |= 1u << k;
  return m;
#endif
}

// Bytes that are ASCII digits or 0x80 and above.
inline unsigned digit_or_high(const unsigned char* p) {
#if defined(__SSE2__)
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('9' + 1)));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(digit, v)));
#else
  unsigned m = 0;
  for (unsigned k = 0; k < kBlock; ++k)
    if ((p[k] >= '0' && p[k] <= '9') || p[k] >= 0x80) m |= 1u << k;
  return m;
#endif
}

// UTF-8 continuation bytes (0x80..0xBF).
inline unsigned continuation(const unsigned char* p) {
#if defined(__SSE2__)
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(0xC0)))));
#else
  unsigned m = 0;
  for (unsigned k = 0; k < kBlock; ++k)
    if ((p[k] & 0xC0) == 0x80) m |= 1u << k;
  return m;
#endif
}

// Bytes below 0x20 or from 0x80 up (control characters and multi-byte
// sequences).
inline unsigned control_or_high(const unsigned char* p) {
#if defined(__SSE2__)
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i ctl = _mm_cmplt_epi8(v, _mm_set1_epi8(0x20));  // negative (>= 0x80) included
  return static_cast<unsigned>(_mm_movemask_epi8(ctl));
#else
  unsigned m = 0;
  for (unsigned k = 0; k < kBlock; ++k)
    if (p[k] < 0x20 || p[k] >= 0x80) m |= 1u << k;
  return m;
#endif
}

// The block with A-Z turned into a-z, into out[0..16).
inline void lower_ascii(const unsigned char* p, unsigned char* out) {
#if defined(__SSE2__)
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('A' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('Z' + 1)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(v, _mm_and_si128(upper, _mm_set1_epi8(0x20))));
#else
  for (unsigned k = 0; k < kBlock; ++k) out[k] = (p[k] >= 'A' && p[k] <= 'Z') ? p[k] + 32 : p[k];
#endif
}

// The block with ASCII word bytes lower-cased and every other byte a space.
inline void word_bytes_lowered(const unsigned char* p, unsigned char* out) {
#if defined(__SSE2__)
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i low = _mm_or_si128(v, _mm_set1_epi8(0x20));
  __m128i alpha = _mm_and_si128(_mm_cmpgt_epi8(low, _mm_set1_epi8('a' - 1)), _mm_cmplt_epi8(low, _mm_set1_epi8('z' + 1)));
  __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('9' + 1)));
  __m128i under = _mm_cmpeq_epi8(v, _mm_set1_epi8('_'));
  // Letters take their lower-case form, digits and "_" stay, the rest is " ".
  __m128i kept = _mm_or_si128(_mm_and_si128(alpha, low), _mm_and_si128(_mm_or_si128(digit, under), v));
  __m128i word = _mm_or_si128(alpha, _mm_or_si128(digit, under));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(kept, _mm_andnot_si128(word, _mm_set1_epi8(' '))));
#else
  for (unsigned k = 0; k < kBlock; ++k) {
    unsigned char b = p[k];
    if (b >= 'A' && b <= 'Z') out[k] = b + 32;
    else if ((b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '_') out[k] = b;
    else out[k] = ' ';
  }
#endif
}

// True when no byte of the block is 0x80 or above.
inline bool all_ascii(const unsigned char* p) {
#if defined(__SSE2__)
  return _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) == 0;
#else
  unsigned char any = 0;
  for (unsigned k = 0; k < kBlock; ++k) any |= p[k];
  return any < 0x80;
#endif
}

// The first offset at or after `i` of a byte 0x80 or above, or a lower
// bound of it: the end of the last whole block of ASCII from `i` (so that a
// caller's byte loop takes it from there).  Four blocks a step.
inline std::size_t skip_ascii(const unsigned char* p, std::size_t i, std::size_t n) {
#if defined(__SSE2__)
  for (; i + 4 * kBlock <= n; i += 4 * kBlock) {
    const auto* q = reinterpret_cast<const __m128i*>(p + i);
    __m128i v = _mm_or_si128(_mm_or_si128(_mm_loadu_si128(q), _mm_loadu_si128(q + 1)),
                             _mm_or_si128(_mm_loadu_si128(q + 2), _mm_loadu_si128(q + 3)));
    if (_mm_movemask_epi8(v)) break;
  }
#endif
  while (i + kBlock <= n && all_ascii(p + i)) i += kBlock;
  return i;
}

inline unsigned lowest_bit(unsigned m) { return static_cast<unsigned>(__builtin_ctz(m)); }

// The number of bits set in a block mask.  Written out: without the POPCNT
// instruction (not in the x86-64 baseline) __builtin_popcount is a library call.
inline unsigned bit_count(unsigned m) {
  m = m - ((m >> 1) & 0x55555555u);
  m = (m & 0x33333333u) + ((m >> 2) & 0x33333333u);
  m = (m + (m >> 4)) & 0x0F0F0F0Fu;
  return (m * 0x01010101u) >> 24;
}

// The first offset at or after `pos` holding a, b or c, or `size` when none.
inline std::size_t find_any(const unsigned char* p, std::size_t size, std::size_t pos, unsigned char a,
                            unsigned char b, unsigned char c) {
  for (; pos + kBlock <= size; pos += kBlock)
    if (unsigned m = equal_any(p + pos, a, b, c)) return pos + lowest_bit(m);
  if (pos < size && size >= kBlock) {
    // The last bytes: the block that ends at `size`, from `pos` on.
    unsigned m = equal_any(p + size - kBlock, a, b, c) >> (kBlock - (size - pos));
    return m ? pos + lowest_bit(m) : size;
  }
  for (; pos < size; ++pos)
    if (p[pos] == a || p[pos] == b || p[pos] == c) return pos;
  return size;
}

}  // namespace vorlane::bytes
