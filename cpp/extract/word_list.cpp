#include "extract/word_list.hpp"

#include <cstdint>
#include <stdexcept>

#include "text/byte_scan.hpp"
#include "text/char_class.hpp"
#include "text/interrupt.hpp"
#include "text/utf8.hpp"

namespace vorlane::extract {

namespace {

constexpr auto word = cls::is_word;

// The ASCII character `c` folds onto, or 0 for one that folds onto none.
char fold(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : static_cast<char>(c);
  if (c == 0x212A) return 'k';
  if (c == 0x17F) return 's';
  return 0;
}

int slot(char c) {
  if (c >= 'a' && c <= 'z') return c - 'a';
  if (c >= '0' && c <= '9') return 26 + (c - '0');
  return -1;
}

// slot(fold(b)) and fold(b) for an ASCII byte.
constexpr std::array<signed char, 256> kAsciiSlot = [] {
  std::array<signed char, 256> t{};
  for (int b = 0; b < 256; ++b) {
    int c = (b >= 'A' && b <= 'Z') ? b + 32 : b;
    t[b] = static_cast<signed char>((c >= 'a' && c <= 'z') ? c - 'a' : (c >= '0' && c <= '9') ? 26 + (c - '0') : -1);
    if (b >= 0x80) t[b] = -1;
  }
  return t;
}();
constexpr std::array<unsigned char, 256> kAsciiLower = [] {
  std::array<unsigned char, 256> t{};
  for (int b = 0; b < 256; ++b) t[b] = static_cast<unsigned char>((b >= 'A' && b <= 'Z') ? b + 32 : b);
  return t;
}();

// Every spelling of an alternative with "x?" optional characters.
void expand(std::string_view alt, std::string prefix, std::vector<std::string>& out) {
  for (std::size_t i = 0; i < alt.size(); ++i) {
    if (i + 1 < alt.size() && alt[i + 1] == '?') {
      expand(alt.substr(i + 2), prefix + alt[i], out);
      expand(alt.substr(i + 2), prefix, out);
      return;
    }
    prefix += alt[i];
  }
  out.push_back(std::move(prefix));
}

}  // namespace

WordList::WordList(std::string_view p) {
  auto bad = [&] { return std::logic_error("not a word-list pattern: " + std::string(p)); };
  if (p.substr(0, 2) == "^(") anchored_ = true;
  else if (p.substr(0, 3) != "\\b(") throw bad();
  std::size_t close = p.find(')');
  if (close == std::string_view::npos) throw bad();
  std::string_view suffix = p.substr(close + 1);
  if (suffix == "\\b") end_boundary_ = true;
  else if (suffix == "\\w*" || suffix.empty()) end_boundary_ = false;
  else throw bad();
  std::size_t open = anchored_ ? 2 : 3;
  std::string_view body = p.substr(open, close - open);
  std::size_t start = 0;
  for (std::size_t i = 0; i <= body.size(); ++i) {
    if (i < body.size() && body[i] != '|') continue;
    std::string_view alt = body.substr(start, i - start);
    start = i + 1;
    Tail tail = Tail::None;
    if (alt.size() > 3 && alt.substr(alt.size() - 3) == "\\w*") tail = Tail::Star;
    if (alt.size() > 3 && alt.substr(alt.size() - 3) == "\\w+") tail = Tail::Plus;
    if (tail != Tail::None) alt.remove_suffix(3);
    for (char c : alt)
      if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '\'' || c == '-' || c == ' ' || c == '?'))
        throw bad();
    std::vector<std::string> spellings;
    expand(alt, "", spellings);
    for (std::string& s : spellings) {
      if (s.empty() || slot(s[0]) < 0) throw bad();
      if (s.size() == 1) {
        single_.push_back(Alt{std::move(s), tail});
        continue;
      }
      int second = slot(s[1]);
      std::size_t bucket = static_cast<std::size_t>(slot(s[0]) * (kSlots + 1) + (second < 0 ? kSlots : second));
      // The third characters the bucket's alternatives allow (any, for one
      // of two characters).
      for (unsigned c = 0; c < 128; ++c)
        if (s.size() == 2 || static_cast<unsigned char>(s[2]) == c) third_[bucket][c >> 6] |= std::uint64_t{1} << (c & 63);
      by_start_[bucket].push_back(Alt{std::move(s), tail});
    }
  }
  for (unsigned b0 = 0; b0 < 128; ++b0)
    for (unsigned b1 = 0; b1 < 128; ++b1) {
      int k = kAsciiSlot[b0], k2 = kAsciiSlot[b1];
      if (k < 0) continue;
      std::size_t bucket = static_cast<std::size_t>(k * (kSlots + 1) + (k2 < 0 ? kSlots : k2));
      if (!by_start_[bucket].empty()) pair_[b0 << 7 | b1] = static_cast<std::uint16_t>(bucket + 1);
    }
}

std::size_t WordList::match_end(std::string_view s, std::size_t p, const Alt& a) const {
  constexpr std::size_t npos = std::string_view::npos;
  std::size_t i = p;
  for (char want : a.text) {
    if (i >= s.size()) return npos;
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      char got = (b >= 'A' && b <= 'Z') ? static_cast<char>(b + 32) : static_cast<char>(b);
      if (got != want) return npos;
      ++i;
    } else if (fold(utf8::decode(s, i)) != want) {
      return npos;
    }
  }
  // The tail: greedy \w* / \w+; the \b after it then holds exactly when the
  // tail took at least what it needs (a word character follows nothing else).
  std::size_t after = i, next = i;
  auto word_at = [&](std::size_t k, std::size_t& nx) {
    if (k >= s.size()) return false;
    nx = k;
    return word(utf8::decode(s, nx));
  };
  if (a.tail != Tail::None) {
    std::size_t taken = 0;
    while (word_at(i, next)) {
      i = next;
      ++taken;
    }
    if (a.tail == Tail::Plus && taken == 0) return npos;
    return i;  // ends a word run: \b holds, and \w* needs nothing more
  }
  if (!end_boundary_) return after;  // `\w*` (or nothing) after the group
  bool last_word = slot(a.text.back()) >= 0;
  return word_at(after, next) != last_word ? after : npos;
}

std::size_t WordList::any_at(std::string_view s, std::size_t p, char first) const {
  constexpr std::size_t npos = std::string_view::npos;
  int k = slot(first);
  if (k < 0) return npos;
  for (const Alt& a : single_)
    if (a.text[0] == first)
      if (std::size_t e = match_end(s, p, a); e != npos) return e;
  // The second character picks the bucket.
  std::size_t q = p + (static_cast<unsigned char>(s[p]) < 0x80 ? 1 : utf8::seq_len(static_cast<unsigned char>(s[p])));
  if (q >= s.size()) return npos;  // every alternative has two characters at least
  std::size_t next;
  int second = slot(fold(cls::at(s, q, next)));
  // With three ASCII characters at p, the third rules out most alternatives.
  const auto* u = reinterpret_cast<const unsigned char*>(s.data());
  int third = -1;
  if (p + 2 < s.size() && u[p] < 0x80 && u[p + 1] < 0x80 && u[p + 2] < 0x80)
    third = (u[p + 2] >= 'A' && u[p + 2] <= 'Z') ? u[p + 2] + 32 : u[p + 2];
  for (const Alt& a : by_start_[k * (kSlots + 1) + (second < 0 ? kSlots : second)]) {
    if (third >= 0 && a.text.size() > 2 && static_cast<unsigned char>(a.text[2]) != third) continue;
    if (std::size_t e = match_end(s, p, a); e != npos) return e;
  }
  return npos;
}

std::size_t WordList::prefix_end(std::string_view s) const {
  constexpr std::size_t npos = std::string_view::npos;
  if (s.empty()) return npos;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  if (single_.empty() && s.size() > 2 && (p[0] | p[1] | p[2]) < 0x80) {
    // No alternative for the first three characters: no match.
    unsigned bucket = pair_[kAsciiLower[p[0]] << 7 | kAsciiLower[p[1]]];
    unsigned c3 = kAsciiLower[p[2]];
    if (!bucket || !((third_[bucket - 1][c3 >> 6] >> (c3 & 63)) & 1)) return npos;
  }
  std::size_t next;
  int k = slot(fold(cls::at(s, 0, next)));
  if (k < 0) return npos;
  for (const Alt& a : single_)
    if (a.text[0] == "abcdefghijklmnopqrstuvwxyz0123456789"[k])
      if (std::size_t e = match_end(s, 0, a); e != npos) return e;
  if (next >= s.size()) return npos;
  std::size_t after;
  int second = slot(fold(cls::at(s, next, after)));
  for (const Alt& a : by_start_[k * (kSlots + 1) + (second < 0 ? kSlots : second)])
    if (std::size_t e = match_end(s, 0, a); e != npos) return e;
  return npos;
}

std::size_t WordList::ascii_start(std::string_view s, std::size_t i) const {
  constexpr std::size_t npos = std::string_view::npos;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  unsigned char b = p[i];
  int k = kAsciiSlot[b];
  if (k < 0) return npos;
  // Most word starts have no alternative for their first three characters.
  if (single_.empty() && i + 1 < s.size() && p[i + 1] < 0x80) {
    int k2 = kAsciiSlot[p[i + 1]];
    std::size_t bucket = static_cast<std::size_t>(k * (kSlots + 1) + (k2 < 0 ? kSlots : k2));
    if (by_start_[bucket].empty()) return npos;
    if (i + 2 < s.size() && p[i + 2] < 0x80) {
      unsigned c3 = kAsciiLower[p[i + 2]];
      if (!((third_[bucket][c3 >> 6] >> (c3 & 63)) & 1)) return npos;
      // Three ASCII characters: the bucket's alternatives with that third.
      for (const Alt& a : by_start_[bucket]) {
        if (a.text.size() > 2 && static_cast<unsigned char>(a.text[2]) != c3) continue;
        if (std::size_t e = match_end(s, i, a); e != npos) return e;
      }
      return npos;
    }
  }
  return any_at(s, i, fold(b));
}

bool WordList::test(std::string_view s) const {
  if (s.empty()) return false;
  if (anchored_) {
    // ^ then an alternative starting with a letter or digit: \b holds at 0.
    return at_start(s, 0) != std::string_view::npos;
  }
  std::size_t end;
  return scan(s, 0, end) != std::string_view::npos;
}

bool WordList::find(std::string_view s, std::size_t pos, std::size_t& begin, std::size_t& end) const {
  if (anchored_) throw std::logic_error("WordList::find needs a list that is not anchored");
  if (pos >= s.size()) return false;
  begin = scan(s, pos, end);
  if (begin == std::string_view::npos) return false;
  if (!end_boundary_) {  // the `\w*` after the group
    std::size_t next;
    while (end < s.size() && word(cls::at(s, end, next))) end = next;
  }
  return true;
}

namespace {

// Calls f(at) for every word start at or after `pos` (a word character
// after a non-word one, or at the start of the text), in order, until f
// returns true; true when it did.
template <class F>
bool for_each_word_start(std::string_view s, std::size_t pos, F&& f) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  bool prev_word = cls::word_before(s, pos);
  std::size_t i = pos, counted = pos;
  while (i < n) {
    if (i - counted >= 65536) {  // long texts: let the host interrupt
      interrupt::tick(i - counted);
      counted = i;
    }
    // A block (or the text's last bytes): word starts are where a word byte
    // follows a non-word one, up to the first byte of a longer sequence.
    const bool whole = i + bytes::kBlock <= n;
    const auto span = static_cast<unsigned>(whole ? bytes::kBlock : n - i);
    bytes::BlockMasks m = whole ? bytes::classify(p + i) : bytes::classify_tail(p, i, n);
    unsigned lim = m.high ? bytes::lowest_bit(m.high) : span;
    unsigned w = m.word & ((1u << lim) - 1);
    for (unsigned starts = w & ~((w << 1) | (prev_word ? 1u : 0u)); starts; starts &= starts - 1)
      if (f(i + bytes::lowest_bit(starts))) return true;
    if (lim) prev_word = (w >> (lim - 1)) & 1;
    i += lim;
    if (lim == span) continue;
    // A character outside ASCII.
    std::size_t next;
    bool wc = word(cls::at(s, i, next));
    if (wc && !prev_word && f(i)) return true;
    prev_word = wc;
    i = next;
  }
  return false;
}

}  // namespace

std::size_t WordList::at_start(std::string_view s, std::size_t at) const {
  constexpr std::size_t npos = std::string_view::npos;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  if (p[at] >= 0x80) {
    std::size_t next;
    return any_at(s, at, fold(cls::at(s, at, next)));
  }
  // Most word starts are ruled out by their first three characters.
  if (single_.empty() && at + 2 < s.size() && (p[at + 1] | p[at + 2]) < 0x80) {
    unsigned bucket = pair_[kAsciiLower[p[at]] << 7 | kAsciiLower[p[at + 1]]];
    unsigned c3 = kAsciiLower[p[at + 2]];
    if (!bucket || !((third_[bucket - 1][c3 >> 6] >> (c3 & 63)) & 1)) return npos;
  }
  return ascii_start(s, at);
}

std::size_t WordList::scan(std::string_view s, std::size_t pos, std::size_t& end) const {
  std::size_t found = std::string_view::npos;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  const bool by_three = single_.empty();
  for_each_word_start(s, pos, [&](std::size_t at) {
    // at_start's first test, here in the loop: most word starts end at it.
    if (by_three && at + 2 < n && (p[at] | p[at + 1] | p[at + 2]) < 0x80) {
      unsigned bucket = pair_[kAsciiLower[p[at]] << 7 | kAsciiLower[p[at + 1]]];
      if (!bucket) return false;
      unsigned c3 = kAsciiLower[p[at + 2]];
      if (!((third_[bucket - 1][c3 >> 6] >> (c3 & 63)) & 1)) return false;
      end = ascii_start(s, at);
    } else {
      end = at_start(s, at);
    }
    if (end == std::string_view::npos) return false;
    found = at;
    return true;
  });
  return found;
}

}  // namespace vorlane::extract
