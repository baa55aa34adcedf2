// Fast character classes for scanners: Python's \w and \s (str.isalnum() or
// "_", str.isspace()), answered from a table for ASCII and by text/unicode
// for the rest.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "text/byte_scan.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace vorlane::cls {

inline constexpr unsigned char kWord = 1, kSpace = 2;

inline constexpr std::array<unsigned char, 128> kAscii = [] {
  std::array<unsigned char, 128> t{};
  for (int c = 0; c < 128; ++c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') t[c] |= kWord;
    if ((c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20)) t[c] |= kSpace;
  }
  return t;
}();

inline bool ascii_word(unsigned char b) { return b < 0x80 && (kAscii[b] & kWord); }

inline bool is_word(char32_t c) { return c < 0x80 ? (kAscii[c] & kWord) != 0 : uni::is_word(c); }
inline bool is_space(char32_t c) { return c < 0x80 ? (kAscii[c] & kSpace) != 0 : uni::is_space(c); }

// The code point at s[i] (i < s.size()), and the offset after it.
inline char32_t at(std::string_view s, std::size_t i, std::size_t& next) {
  auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    next = i + 1;
    return b;
  }
  next = i;
  return utf8::decode(s, next);
}

// Whether the code point before offset i is a word character (false at 0).
inline bool word_before(std::string_view s, std::size_t i) {
  if (i == 0) return false;
  auto b = static_cast<unsigned char>(s[i - 1]);
  if (b < 0x80) return kAscii[b] & kWord;
  return uni::is_word(utf8::decode_back(s, i));
}

// uni::lstrip / rstrip / strip, with ASCII ends handled here: Unicode
// white space is looked up only where an end is outside ASCII.
inline std::string_view lstrip(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    auto b = static_cast<unsigned char>(s[i]);
    if (b >= 0x80) return uni::lstrip(s.substr(i));
    if (!(kAscii[b] & kSpace)) break;
    ++i;
  }
  return s.substr(i);
}
inline std::string_view rstrip(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0) {
    auto b = static_cast<unsigned char>(s[e - 1]);
    if (b >= 0x80) return uni::rstrip(s.substr(0, e));
    if (!(kAscii[b] & kSpace)) break;
    --e;
  }
  return s.substr(0, e);
}
inline std::string_view strip(std::string_view s) { return rstrip(lstrip(s)); }

// uni::has_decimal, answered without lookups for ASCII: the first digit or
// byte outside ASCII decides, a block at a time.
inline bool has_decimal(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  std::size_t i = 0;
  for (; i + bytes::kBlock <= s.size(); i += bytes::kBlock)
    if (bytes::digit_or_high(p + i)) break;
  for (; i < s.size(); ++i) {
    if (p[i] >= '0' && p[i] <= '9') return true;
    if (p[i] >= 0x80) return uni::has_decimal(s.substr(i));
  }
  return false;
}

// A set of bytes, built at compile time.
struct ByteSet {
  std::array<bool, 256> in{};
  constexpr explicit ByteSet(std::string_view bytes) {
    for (char c : bytes) in[static_cast<unsigned char>(c)] = true;
  }
  // The first offset at or after `pos` holding one of the bytes, or npos
  // (std::string_view::find_first_of runs memchr once per byte).
  std::size_t find(std::string_view s, std::size_t pos = 0) const {
    for (std::size_t i = pos; i < s.size(); ++i)
      if (in[static_cast<unsigned char>(s[i])]) return i;
    return std::string_view::npos;
  }
  bool any(std::string_view s) const { return find(s) != std::string_view::npos; }
};

// True when `s` holds "~", "/" or ".": a path needs one.
inline bool has_path_char(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  return bytes::find_any(p, s.size(), 0, '~', '/', '.') < s.size();
}

}  // namespace vorlane::cls
