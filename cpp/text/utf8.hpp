// UTF-8 helpers for the core.
//
// Texts inside the core are std::string / std::string_view holding UTF-8.
// Host strings may carry lone surrogates (U+D800..U+DFFF); those are kept as
// their three-byte "generalised UTF-8" form (ED A0..BF 80..BF) so that no
// code point is lost on the way in and out.  Every helper here treats such a
// sequence as one code point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorlane::utf8 {

// True for a byte that starts a code point (not a continuation byte).
inline bool is_lead(unsigned char b) { return (b & 0xC0) != 0x80; }

// Number of code points in `s`.
std::size_t length(std::string_view s);

// Byte length of the code point starting at s[i] (1..4), assuming valid input.
inline std::size_t seq_len(unsigned char b) {
  if (b < 0x80) return 1;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  return 4;
}

// The project's one UTF-8 decoder.  Reads the well-formed sequence at
// s[i] (an encoded surrogate counts as well-formed) into `c` and advances
// `i` past it; returns false, changing nothing, when s[i] starts none
// (stray continuation byte, overlong form, value past U+10FFFF, truncation).
bool decode_strict(std::string_view s, std::size_t& i, char32_t& c);

// Decodes the code point at byte offset `i` and advances `i` past it.  A
// byte that starts no well-formed sequence reads as U+FFFD and is skipped
// alone (texts in the core are well-formed; this only keeps a stray byte
// from being read past).
inline char32_t decode(std::string_view s, std::size_t& i) {
  auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    ++i;
    return b;
  }
  char32_t c;
  if (decode_strict(s, i, c)) return c;
  ++i;
  return 0xFFFD;
}

// Decodes the code point that ends just before byte offset `i` and moves `i`
// back to its first byte.  Requires i > 0.
char32_t decode_back(std::string_view s, std::size_t& i);

// Appends the UTF-8 form of `c` (surrogates as three bytes).
void append(std::string& out, char32_t c);

// Byte offset of the code point with index `n` (or s.size() when n is past
// the end).
std::size_t offset_of(std::string_view s, std::size_t n);

// The first `n` code points of `s`.
inline std::string_view prefix(std::string_view s, std::size_t n) {
  return s.substr(0, offset_of(s, n));
}

// True when the text holds an encoded surrogate code point.
bool has_surrogate(std::string_view s);

// True when every byte is ASCII.
bool is_ascii(std::string_view s);

// Checks that `s` is well-formed UTF-8, allowing encoded surrogates.
bool is_valid(std::string_view s);

}  // namespace vorlane::utf8
