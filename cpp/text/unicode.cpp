#include "text/unicode.hpp"

#include <cstdint>

#include "text/utf8.hpp"

namespace vorlane::uni {

namespace {

// One distinct set of character properties: flag bits and the lower-case
// mapping (a code point delta, or with kMulti an index into kMultiLower).
struct Record {
  std::uint8_t flags;
  std::int32_t lower;
};

enum : std::uint8_t {
  kWord = 1, kDecimal = 2, kDigit = 4, kPrintable = 8, kSpace = 16,
  kCased = 32, kCaseIgnorable = 64, kMulti = 128,
};

// The tables written at build time from the building interpreter's
// character database (tools/gen_unicode_tables.py).
#include "unicode_tables.inc"

static_assert(sizeof(kMultiLower) / sizeof(kMultiLower[0]) == kMultiLowerCount);

const Record& record(char32_t c) {
  if (c >= 0x110000) return kRecords[0];  // not a code point: no property
  unsigned block = kIndex[c >> kShift];
  return kRecords[kBlocks[(block << kShift) | (c & ((1u << kShift) - 1))]];
}

bool has(char32_t c, std::uint8_t flag) { return (record(c).flags & flag) != 0; }

}  // namespace

std::string_view unicode_version() { return kUnicodeVersion; }
std::string_view word_class_members() { return kWordMembers; }
std::string_view decimal_class_members() { return kDecimalMembers; }

bool is_space(char32_t c) {
  if (c < 0x80) return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20);
  return has(c, kSpace);
}

bool is_word(char32_t c) {
  if (c < 0x80) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
  }
  return has(c, kWord);
}

bool is_decimal(char32_t c) {
  if (c < 0x80) return c >= '0' && c <= '9';
  return has(c, kDecimal);
}

bool is_digit(char32_t c) {
  if (c < 0x80) return c >= '0' && c <= '9';
  return has(c, kDigit);
}

bool is_printable(char32_t c) {
  if (c < 0x80) return c >= 0x20 && c < 0x7F;
  return has(c, kPrintable);
}

bool has_decimal(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      if (b >= '0' && b <= '9') return true;
      ++i;
    } else if (is_decimal(utf8::decode(s, i))) {
      return true;
    }
  }
  return false;
}

namespace {

void lower_ascii(std::string& out, std::string_view s) {
  std::size_t base = out.size();
  out.append(s);
  for (std::size_t i = base; i < out.size(); ++i) {
    char ch = out[i];
    if (ch >= 'A' && ch <= 'Z') out[i] = static_cast<char>(ch + 32);
  }
}

// The capital sigma that ends at byte `end` of `s` (and starts at `begin`) is
// final when a cased character comes before it and none after it, skipping
// case-ignorable characters both ways (str.lower()'s rule).
bool final_sigma(std::string_view s, std::size_t begin, std::size_t end) {
  std::size_t i = begin;
  bool cased_before = false;
  while (i > 0) {
    const Record& r = record(utf8::decode_back(s, i));
    if (r.flags & kCaseIgnorable) continue;
    cased_before = (r.flags & kCased) != 0;
    break;
  }
  if (!cased_before) return false;
  for (std::size_t j = end; j < s.size();) {
    const Record& r = record(utf8::decode(s, j));
    if (r.flags & kCaseIgnorable) continue;
    return (r.flags & kCased) == 0;
  }
  return true;
}

}  // namespace

std::string lower(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  if (utf8::is_ascii(s)) {
    lower_ascii(out, s);
    return out;
  }
  std::size_t i = 0;
  while (i < s.size()) {
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {  // a run of ASCII at once
      std::size_t j = i + 1;
      while (j < s.size() && static_cast<unsigned char>(s[j]) < 0x80) ++j;
      lower_ascii(out, s.substr(i, j - i));
      i = j;
      continue;
    }
    std::size_t start = i;
    char32_t c = utf8::decode(s, i);
    if (c == 0x3A3) {
      out.append(final_sigma(s, start, i) ? "\u03c2" : "\u03c3");
      continue;
    }
    const Record& r = record(c);
    if (r.flags & kMulti) {
      out.append(kMultiLower[r.lower]);
    } else if (r.lower == 0) {
      out.append(s.substr(start, i - start));  // kept byte for byte
    } else {
      utf8::append(out, static_cast<char32_t>(static_cast<std::int32_t>(c) + r.lower));
    }
  }
  return out;
}

std::string_view lstrip(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t j = i;
    if (!is_space(utf8::decode(s, j))) break;
    i = j;
  }
  return s.substr(i);
}

std::string_view rstrip(std::string_view s) {
  std::size_t i = s.size();
  while (i > 0) {
    std::size_t j = i;
    if (!is_space(utf8::decode_back(s, j))) break;
    i = j;
  }
  return s.substr(0, i);
}

std::string_view strip(std::string_view s) { return rstrip(lstrip(s)); }

static bool in_set(char32_t c, std::u32string_view chars) {
  return chars.find(c) != std::u32string_view::npos;
}

std::string_view lstrip_chars(std::string_view s, std::u32string_view chars) {
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t j = i;
    if (!in_set(utf8::decode(s, j), chars)) break;
    i = j;
  }
  return s.substr(i);
}

std::string_view rstrip_chars(std::string_view s, std::u32string_view chars) {
  std::size_t i = s.size();
  while (i > 0) {
    std::size_t j = i;
    if (!in_set(utf8::decode_back(s, j), chars)) break;
    i = j;
  }
  return s.substr(0, i);
}

std::string_view strip_chars(std::string_view s, std::u32string_view chars) {
  return rstrip_chars(lstrip_chars(s, chars), chars);
}

}  // namespace vorlane::uni
