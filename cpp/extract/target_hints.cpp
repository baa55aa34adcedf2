#include "extract/target_hints.hpp"

#include "text/byte_scan.hpp"
#include "text/char_class.hpp"

namespace vorlane::extract::hint {

namespace {

// A byte that may belong to a decimal digit (\d): an ASCII digit, or any
// byte of a longer sequence.
bool digitish(unsigned char b) { return (b >= '0' && b <= '9') || b >= 0x80; }

// A byte that may belong to a white-space character (\s).
bool spaceish(unsigned char b) { return b >= 0x80 || (cls::kAscii[b] & cls::kSpace); }

unsigned char at(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

// Whether the byte `sep` at i has a digit-like byte on each side.
bool between_digits(std::string_view s, std::size_t i) {
  return i > 0 && i + 1 < s.size() && digitish(at(s, i - 1)) && digitish(at(s, i + 1));
}

// How many `sep` bytes stand between digits (counting stops at `enough`).
int count_between(std::string_view s, char sep, int enough) {
  int n = 0;
  for (std::size_t i = s.find(sep); i != std::string_view::npos && n < enough; i = s.find(sep, i + 1))
    n += between_digits(s, i);
  return n;
}

}  // namespace

bool may_hold_date(std::string_view s) { return count_between(s, '-', 2) >= 2; }

bool may_hold_version(std::string_view s) { return count_between(s, '.', 2) >= 2; }

bool may_hold_dimension(std::string_view s) {
  const std::size_t n = s.size();
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (std::size_t j = bytes::find_any(p, n, 0, 'x', 0xC3, 0xC3); j < n; j = bytes::find_any(p, n, j + 1, 'x', 0xC3, 0xC3)) {
    std::size_t k;  // just after the sign
    if (s[j] == 'x') k = j + 1;
    else if (j + 1 < n && at(s, j + 1) == 0x97) k = j + 2;  // ×
    else continue;
    bool before = j > 0 && (digitish(at(s, j - 1)) || (spaceish(at(s, j - 1)) && j > 1 && digitish(at(s, j - 2))));
    bool after = k < n && (digitish(at(s, k)) || (spaceish(at(s, k)) && k + 1 < n && digitish(at(s, k + 1))));
    if (before && after) return true;
  }
  return false;
}

namespace {

// A month name at i followed by what TIME_RE needs after it: [a-z]*, an
// optional ".", white space, then a digit.
bool month_at(std::string_view s, std::size_t i) {
  static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (i + 3 > s.size()) return false;
  bool month = false;
  for (std::string_view m : kMonths) month = month || (s[i] == m[0] && s[i + 1] == m[1] && s[i + 2] == m[2]);
  if (!month) return false;
  std::size_t j = i + 3;
  while (j < s.size() && s[j] >= 'a' && s[j] <= 'z') ++j;
  if (j < s.size() && s[j] == '.') ++j;
  if (j >= s.size() || !spaceish(at(s, j))) return false;
  while (j < s.size() && spaceish(at(s, j)) && !(at(s, j) >= 0x80)) ++j;
  return j < s.size() && digitish(at(s, j));
}

}  // namespace

bool may_hold_time(std::string_view s) {
  const std::size_t n = s.size();
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (std::size_t i = bytes::find_any(p, n, 0, ':', '/', '-'); i < n; i = bytes::find_any(p, n, i + 1, ':', '/', '-'))
    if (between_digits(s, i)) return true;
  // A month name: a capital first.
  std::size_t i = 0;
  for (; i + bytes::kBlock <= n; i += bytes::kBlock)
    for (unsigned m = bytes::capitals(p + i); m; m &= m - 1)
      if (month_at(s, i + bytes::lowest_bit(m))) return true;
  for (; i < n; ++i)
    if (p[i] >= 'A' && p[i] <= 'Z' && month_at(s, i)) return true;
  return false;
}

}  // namespace vorlane::extract::hint
