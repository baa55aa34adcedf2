#include "text/utf8.hpp"

#include <cstring>

#include "text/byte_scan.hpp"

namespace vorlane::utf8 {

std::size_t length(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  std::size_t n = s.size(), i = 0;
  for (; i + bytes::kBlock <= s.size(); i += bytes::kBlock)
    n -= bytes::bit_count(bytes::continuation(p + i));
  for (; i < s.size(); ++i) n -= !is_lead(p[i]);
  return n;
}

bool decode_strict(std::string_view s, std::size_t& i, char32_t& c) {
  auto p = reinterpret_cast<const unsigned char*>(s.data()) + i;
  std::size_t n = s.size() - i;
  unsigned char b = p[0];
  if (b < 0x80) {
    c = b;
    ++i;
    return true;
  }
  std::size_t len;
  char32_t min;
  if (b >= 0xC2 && b < 0xE0) {
    len = 2;
    min = 0x80;
  } else if (b >= 0xE0 && b < 0xF0) {
    len = 3;
    min = 0x800;
  } else if (b >= 0xF0 && b < 0xF5) {
    len = 4;
    min = 0x10000;
  } else {
    return false;
  }
  if (len > n) return false;
  char32_t v = b & (0x7F >> len);
  for (std::size_t k = 1; k < len; ++k) {
    if ((p[k] & 0xC0) != 0x80) return false;
    v = (v << 6) | (p[k] & 0x3F);
  }
  if (v < min || v > 0x10FFFF) return false;
  c = v;
  i += len;
  return true;
}

char32_t decode_back(std::string_view s, std::size_t& i) {
  std::size_t j = i - 1;
  while (j > 0 && !is_lead(static_cast<unsigned char>(s[j]))) --j;
  std::size_t k = j;
  char32_t c = decode(s, k);
  i = j;
  return c;
}

void append(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::size_t offset_of(std::string_view s, std::size_t n) {
  // An ASCII head: characters are bytes.
  std::size_t k = n < s.size() ? n : s.size();
  if (is_ascii(s.substr(0, k))) return k;
  std::size_t i = 0, seen = 0;
  while (i < s.size()) {
    if (is_lead(static_cast<unsigned char>(s[i]))) {
      if (seen == n) return i;
      ++seen;
    }
    ++i;
  }
  return s.size();
}

bool has_surrogate(std::string_view s) {
  const char* p = s.data();
  const char* end = p + s.size();
  while (p < end) {
    const void* q = std::memchr(p, 0xED, static_cast<std::size_t>(end - p));
    if (!q) return false;
    p = static_cast<const char*>(q);
    if (p + 1 < end && static_cast<unsigned char>(p[1]) >= 0xA0) return true;
    ++p;
  }
  return false;
}

bool is_ascii(std::string_view s) {
  const std::size_t n = s.size();
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  std::size_t i = bytes::skip_ascii(p, 0, n);
  if (i + bytes::kBlock <= n) return false;  // stopped at a block with a high byte
  if (n >= bytes::kBlock) return i == n || bytes::all_ascii(p + n - bytes::kBlock);
  for (; i < n; ++i)
    if (p[i] & 0x80) return false;
  return true;
}

bool is_valid(std::string_view s) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  std::size_t n = s.size(), i = 0;
  while (i < n) {
    if (p[i] < 0x80) {
      ++i;
      i = bytes::skip_ascii(p, i, n);
      continue;
    }
    char32_t c;
    if (!decode_strict(s, i, c)) return false;
  }
  return true;
}

}  // namespace vorlane::utf8
