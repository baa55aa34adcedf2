#include "extract/line_scan.hpp"

#include <array>
#include <cstring>

#include "text/byte_scan.hpp"
#include "text/char_class.hpp"
#include "text/interrupt.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace vorlane::extract::scan {

namespace {

bool space_at(std::string_view s, std::size_t i, std::size_t& next) { return cls::is_space(cls::at(s, i, next)); }

// The first ".", "!" or "?" at or after `pos`, or npos.
std::size_t sentence_end(std::string_view s, std::size_t pos) {
  std::size_t e = bytes::find_any(reinterpret_cast<const unsigned char*>(s.data()), s.size(), pos, '.', '!', '?');
  return e < s.size() ? e : std::string_view::npos;
}

std::size_t skip_space(std::string_view s, std::size_t i) {
  std::size_t next;
  while (i < s.size() && space_at(s, i, next)) i = next;
  return i;
}

// The first "```" at or after `pos`, or npos: backticks found a block at a
// time (a report's many code spans would each cost a library call).
std::size_t find_fence(std::string_view s, std::size_t pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (;;) {
    std::size_t i = bytes::find_any(p, s.size(), pos, '`', '`', '`');
    if (i + 3 > s.size()) return std::string_view::npos;
    if (p[i + 1] == '`' && p[i + 2] == '`') return i;
    pos = i + 1;
  }
}

}  // namespace

std::string strip_fences(std::string_view text) {
  std::string out;
  std::size_t last = 0;
  for (;;) {
    std::size_t open = find_fence(text, last);
    if (open == std::string_view::npos) break;
    std::size_t close = find_fence(text, open + 3);
    if (close == std::string_view::npos) break;
    if (last == 0) out.reserve(text.size());
    out.append(text, last, open - last);
    out.push_back(' ');
    last = close + 3;
  }
  if (last == 0) return std::string(text);
  out.append(text, last);
  return out;
}

bool has_fence(std::string_view text) {
  std::size_t open = find_fence(text, 0);
  return open != std::string_view::npos && find_fence(text, open + 3) != std::string_view::npos;
}

bool table_rule(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && s[i] == '|') ++i;
  i = skip_space(s, i);
  if (i < s.size() && s[i] == ':') ++i;
  return i + 1 < s.size() && s[i] == '-' && s[i + 1] == '-';
}

std::size_t list_marker_end(std::string_view s) {
  std::size_t i = 0, next;
  if (s.empty()) return 0;
  char c = s[0];
  if (c == '-' || c == '*') {
    i = 1;
  } else if (s.substr(0, 3) == "\u2022") {
    i = 3;
  } else if (c == '[') {
    if (s.size() < 3 || (s[1] != ' ' && s[1] != 'x') || s[2] != ']') return 0;
    i = 3;
  } else {
    while (i < s.size()) {
      auto b = static_cast<unsigned char>(s[i]);
      if (b < 0x80) {  // ASCII: only 0-9 are decimal
        if (b < '0' || b > '9') break;
        ++i;
        continue;
      }
      next = i;
      if (!uni::is_decimal(utf8::decode(s, next))) break;
      i = next;
    }
    if (i == 0 || i >= s.size() || (s[i] != '.' && s[i] != ')')) return 0;
    ++i;
  }
  if (i >= s.size() || !space_at(s, i, next)) return 0;
  return skip_space(s, next);
}

bool rule_cell(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c != '-' && c != ':' && c != ' ') return false;
  return true;
}

std::string unbold(std::string_view s) {
  std::string out;
  std::size_t last = 0, pos = 0;
  std::size_t nl = 0;  // the first line feed at or after the content start
  for (;;) {
    std::size_t open = s.find("**", pos);
    if (open == std::string_view::npos) break;
    // The shortest non-empty content without a line feed.
    std::size_t close = s.find("**", open + 3);
    if (close == std::string_view::npos) break;
    if (nl != std::string_view::npos && nl < open + 2) nl = s.find('\n', open + 2);
    if (nl < close) {
      // Every start before the line feed would need the same closing pair.
      pos = nl + 1;
      continue;
    }
    out.append(s, last, open - last);
    out.append(s, open + 2, close - open - 2);
    last = pos = close + 2;
  }
  if (last == 0) return std::string(s);
  out.append(s, last);
  return out;
}

std::size_t status_end(std::string_view s) {
  std::size_t i = skip_space(s, 0), marks = 0;
  while (i < s.size()) {
    std::size_t next = i;
    char32_t c = utf8::decode(s, next);
    if (c != 0x2714 && c != 0x2705 && c != 0x26A0 && c != 0xFE0F && c != 0x274C && c != 0x1F7E0 && c != 0x25CC)
      break;
    ++marks;
    i = next;
  }
  return marks ? skip_space(s, i) : 0;
}

bool next_sentence_break(std::string_view s, std::size_t pos, std::size_t& b, std::size_t& e,
                         interrupt::Meter& meter) {
  while (pos < s.size()) {
    // A break starts right after ".", "!" or "?".
    std::size_t p = sentence_end(s, pos);
    if (p == std::string_view::npos) return false;
    meter.add(p - pos);
    b = p + 1;
    e = skip_space(s, b);
    if (e > b && e < s.size()) {
      char c = s[e];
      if ((c >= 'A' && c <= 'Z') || c == '`' || c == '*' || c == '"' || c == '\'' || c == '(' || c == '[')
        return true;
    }
    pos = e > b ? e : b;
  }
  return false;
}

std::string collapse_non_word(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0, n = s.size();
  while (i < n) {
    // A run of word characters, copied whole.
    std::size_t start = i, next;
    while (i < n) {
      auto b = static_cast<unsigned char>(s[i]);
      if (b < 0x80) {
        if (!(cls::kAscii[b] & cls::kWord)) break;
        ++i;
      } else if (cls::is_word(cls::at(s, i, next))) {
        i = next;
      } else {
        break;
      }
    }
    if (i > start) {
      if (!out.empty()) out.push_back(' ');
      out.append(s, start, i - start);
    }
    // A run of other characters, dropped.
    while (i < n) {
      auto b = static_cast<unsigned char>(s[i]);
      if (b < 0x80) {
        if (cls::kAscii[b] & cls::kWord) break;
        ++i;
      } else if (!cls::is_word(cls::at(s, i, next))) {
        i = next;
      } else {
        break;
      }
    }
  }
  return out;
}

}  // namespace vorlane::extract::scan

namespace vorlane::extract::scan {

// For each byte: its lower-case form for an ASCII word character, 0 for
// other ASCII, 1 for a byte of a longer sequence.
constexpr std::array<char, 256> kKeyByte = [] {
  std::array<char, 256> t{};
  for (int b = 0; b < 256; ++b) {
    if (b >= 0x80) t[b] = 1;
    else if (cls::kAscii[b] & cls::kWord) t[b] = static_cast<char>((b >= 'A' && b <= 'Z') ? b + 32 : b);
  }
  return t;
}();

std::string duplicate_key(std::string_view u) {
  std::string out;
  duplicate_key(u, out);
  return out;
}

void duplicate_key(std::string_view u, std::string& out) {
  // Word characters all ASCII: lower-case and collapse in one pass.  Other
  // characters only separate words, whatever their lower-case form.  A
  // space is written only before a word that follows another.
  const std::size_t size = u.size();
  out.resize(size + bytes::kBlock);  // room for whole-block copies
  // Raw pointers: stores through char* could alias the string's own fields.
  char* const o = out.data();
  std::size_t n = 0, i = 0;
  bool gap = false;  // a separator since the last word
  const auto* p = reinterpret_cast<const unsigned char*>(u.data());
  // A character outside ASCII at i: a separator (passed, true) unless it is
  // a word character, whose lower-case form may differ in length: then the
  // key is made the general way (false).
  auto separator_at = [&](std::size_t& i) {
    std::size_t next = i;
    if (cls::is_word(utf8::decode(u, next))) {
      out = collapse_non_word(uni::lower(u));
      return false;
    }
    gap = true;
    i = next;
    return true;
  };
  // Blocks of ASCII: each run of word bytes copied lower-cased.
  unsigned char low[2 * bytes::kBlock] = {};
  while (i + bytes::kBlock <= size) {
    bytes::BlockMasks m = bytes::classify(p + i);
    // Up to the first byte of a longer sequence.
    unsigned lim = m.high ? bytes::lowest_bit(m.high) : bytes::kBlock;
    bytes::word_bytes_lowered(p + i, low);
    if (lim == bytes::kBlock) {
      // Prose: words with single separators between them are their own key
      // once each separator is a space.
      unsigned sep = ~m.word & 0xFFFF;
      if (!(sep & (sep >> 1))) {
        unsigned from = sep & 1, to = bytes::kBlock - (sep >> 15);
        if (from) gap = true;
        if (from < to) {
          if (gap && n) o[n++] = ' ';
          std::memcpy(o + n, low + from, bytes::kBlock);
          n += to - from;
          gap = false;
        }
        if (sep >> 15) gap = true;
        i += bytes::kBlock;
        continue;
      }
    }
    unsigned w = m.word & ((1u << lim) - 1), done = 0;  // done: the block offset reached
    while (w) {
      unsigned a = bytes::lowest_bit(w);
      unsigned len = bytes::lowest_bit(~(w >> a));
      if (a > done) gap = true;
      if (gap && n) o[n++] = ' ';
      gap = false;
      std::memcpy(o + n, low + a, bytes::kBlock);  // len <= 16 bytes wanted
      n += len;
      done = a + len;
      w &= ~(((1u << len) - 1) << a);
    }
    if (done < lim) gap = true;
    i += lim;
    if (lim < bytes::kBlock && !separator_at(i)) return;
  }
  while (i < size) {
    char k = kKeyByte[p[i]];
    if (k > 1) {
      if (gap && n) o[n++] = ' ';
      gap = false;
      o[n++] = k;
      ++i;
    } else if (k == 0) {
      gap = true;
      ++i;
    } else if (!separator_at(i)) {
      return;
    }
  }
  out.resize(n);
}

}  // namespace vorlane::extract::scan
