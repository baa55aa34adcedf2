#include "text/unicode.hpp"

#include <unicode/uchar.h>
#include <unicode/ucasemap.h>

#include <mutex>
#include <stdexcept>

#include "text/utf8.hpp"

namespace vorlane::uni {

bool is_space(char32_t c) {
  if (c < 0x80) return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20);
  switch (c) {
    case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029:
    case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

namespace {

// The host's character database is Unicode 14.0 (Python 3.11, like PCRE2
// 10.42); ICU's may be newer.  A code point assigned after 14.0 is
// unassigned to the host: no letter, no digit.
bool newer_than_host(char32_t c) {
  UVersionInfo age;
  u_charAge(static_cast<UChar32>(c), age);
  return age[0] > 14;
}

}  // namespace

bool is_word(char32_t c) {
  if (c < 0x80) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
  }
  if (c >= 0xD800 && c <= 0xDFFF) return false;
  int32_t mask = U_GET_GC_MASK(static_cast<UChar32>(c));
  return (mask & (U_GC_L_MASK | U_GC_N_MASK)) != 0 && !newer_than_host(c);
}

bool is_decimal(char32_t c) {
  if (c < 0x80) return c >= '0' && c <= '9';
  return u_charType(static_cast<UChar32>(c)) == U_DECIMAL_DIGIT_NUMBER && !newer_than_host(c);
}

bool is_digit(char32_t c) {
  if (c < 0x80) return c >= '0' && c <= '9';
  int t = u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_NUMERIC_TYPE);
  return (t == U_NT_DECIMAL || t == U_NT_DIGIT) && !newer_than_host(c);
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

const UCaseMap* case_map() {
  static const UCaseMap* map = [] {
    UErrorCode err = U_ZERO_ERROR;
    UCaseMap* m = ucasemap_open("", 0, &err);  // root locale: no Turkish/Lithuanian rules
    if (U_FAILURE(err)) throw std::runtime_error("ICU case map unavailable");
    return m;
  }();
  return map;
}

void lower_ascii(std::string& out, std::string_view s) {
  std::size_t base = out.size();
  out.append(s);
  for (std::size_t i = base; i < out.size(); ++i) {
    char ch = out[i];
    if (ch >= 'A' && ch <= 'Z') out[i] = static_cast<char>(ch + 32);
  }
}

void lower_icu(std::string& out, std::string_view s) {
  if (s.empty()) return;
  if (utf8::is_ascii(s)) {
    lower_ascii(out, s);
    return;
  }
  std::size_t base = out.size();
  // Lower-casing grows a UTF-8 text by at most a factor of 3/2 (U+0130 is
  // two bytes and becomes three); start with that and retry on overflow.
  std::size_t cap = s.size() + s.size() / 2 + 16;
  for (;;) {
    out.resize(base + cap);
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = ucasemap_utf8ToLower(case_map(), out.data() + base, static_cast<int32_t>(cap), s.data(),
                                     static_cast<int32_t>(s.size()), &err);
    if (err == U_BUFFER_OVERFLOW_ERROR) {
      cap = static_cast<std::size_t>(n) + 1;
      continue;
    }
    if (U_FAILURE(err)) throw std::runtime_error("lower-casing failed");
    out.resize(base + static_cast<std::size_t>(n));
    return;
  }
}

}  // namespace

std::string lower(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  if (utf8::is_ascii(s)) {
    lower_ascii(out, s);
    return out;
  }
  // Lone surrogates are not cased and break every casing context, so the
  // text is cased segment by segment around them and they are kept as they are.
  if (!utf8::has_surrogate(s)) {
    lower_icu(out, s);
    return out;
  }
  std::size_t seg = 0, i = 0;
  while (i < s.size()) {
    auto b = static_cast<unsigned char>(s[i]);
    if (b == 0xED && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0xA0) {
      lower_icu(out, s.substr(seg, i - seg));
      out.append(s.substr(i, 3));
      i += 3;
      seg = i;
    } else {
      i += utf8::seq_len(b);
    }
  }
  lower_icu(out, s.substr(seg));
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
