// Report segmentation: fenced code removal, sentence splitting and the
// line/block passes that turn a report into Units.
#include <array>
#include <deque>
#include <string>

#include "extract/extract.hpp"
#include "extract/key_set.hpp"
#include "extract/line_scan.hpp"
#include "extract/patterns.hpp"
#include "extract/token_scan.hpp"
#include "text/byte_scan.hpp"
#include "text/char_class.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace vorlane::extract {

namespace {

// Bytes that may start a line boundary.
constexpr std::array<bool, 256> kLineLead = [] {
  std::array<bool, 256> t{};
  for (unsigned char b : {'\n', '\v', '\f', '\r', '\x1c', '\x1d', '\x1e', '\xc2', '\xe2'}) t[b] = true;
  return t;
}();

// Splits like str.splitlines(): LF, CR, CR LF, VT, FF, FS, GS, RS, NEL,
// LINE SEPARATOR and PARAGRAPH SEPARATOR end a line.
template <class F>
void for_each_line(std::string_view text, F&& f) {
  std::size_t start = 0, i = 0, n = text.size();
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  while (i < n) {
    if (i + bytes::kBlock <= n) {
      // Every line-boundary byte is a control byte or starts a longer sequence.
      unsigned m = bytes::control_or_high(p + i);
      if (!m) {
        i += bytes::kBlock;
        continue;
      }
      i += bytes::lowest_bit(m);
    }
    auto b = p[i];
    if (!kLineLead[b]) {
      ++i;
      continue;
    }
    std::size_t brk = 0;  // length of the line boundary at i, 0 if none
    if (b == '\n' || b == '\v' || b == '\f' || b == 0x1C || b == 0x1D || b == 0x1E) {
      brk = 1;
    } else if (b == '\r') {
      brk = (i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
    } else if (b == 0xC2 && i + 1 < n && static_cast<unsigned char>(text[i + 1]) == 0x85) {
      brk = 2;
    } else if (b == 0xE2 && i + 2 < n && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
      brk = 3;
    }
    if (brk) {
      f(text.substr(start, i - start));
      i += brk;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < n) f(text.substr(start));
}

// Characters trimmed from both ends of a sentence: space, hyphen, en dash
// (E2 80 93), em dash (E2 80 94) and colon.
std::string_view trim_sentence(std::string_view s) {
  auto dash_at = [&](std::size_t i) {
    return i + 3 <= s.size() && s[i] == '\xe2' && s[i + 1] == '\x80' && (s[i + 2] == '\x93' || s[i + 2] == '\x94');
  };
  std::size_t b = 0, e = s.size();
  while (b < e) {
    char c = s[b];
    if (c == ' ' || c == '-' || c == ':') ++b;
    else if (b + 3 <= e && dash_at(b)) b += 3;
    else break;
  }
  while (e > b) {
    char c = s[e - 1];
    if (c == ' ' || c == '-' || c == ':') --e;
    else if (e >= b + 3 && dash_at(e - 3)) e -= 3;
    else break;
  }
  return s.substr(b, e - b);
}

bool is_unit(std::string_view s, const Patterns& P) {
  // Only lengths under 20 matter: 20 bytes of ASCII, or 80 bytes, hold 20
  // characters at least.
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  std::size_t len;
  if (n >= 80) len = 80;
  else if (n >= 20 && bytes::all_ascii(p) && (p[16] | p[17] | p[18] | p[19]) < 0x80) len = 20;
  else len = utf8::length(s);
  if (len < 8 || (n && s.back() == '?')) return false;
  // Cheap exact pre-tests: a code span needs a backtick, a path one of
  // "~", "/" or "." (both found in one pass); numbers and versions a digit.
  bool tick = false, path_chars = false;
  std::size_t i = 0;
  for (; i + bytes::kBlock <= n && !(tick && path_chars); i += bytes::kBlock) {
    tick = tick || bytes::equal_any(p + i, '`', '`', '`');
    path_chars = path_chars || bytes::equal_any(p + i, '~', '/', '.');
  }
  if (i < n && !(tick && path_chars)) {
    if (n >= bytes::kBlock) {  // the last bytes: the block that ends the text
      const unsigned shift = static_cast<unsigned>(bytes::kBlock - (n - i));
      tick = tick || (bytes::equal_any(p + n - bytes::kBlock, '`', '`', '`') >> shift);
      path_chars = path_chars || (bytes::equal_any(p + n - bytes::kBlock, '~', '/', '.') >> shift);
    } else {
      for (; i < n; ++i) {
        tick = tick || p[i] == '`';
        path_chars = path_chars || p[i] == '~' || p[i] == '/' || p[i] == '.';
      }
    }
  }
  int code_path = -1, work = -1;  // answers, once asked
  auto code_or_path = [&] {
    if (code_path < 0) code_path = (tick && CodeSpanFinder().test(s)) || (path_chars && PathFinder().test(s));
    return code_path != 0;
  };
  auto work_verb = [&] {
    if (work < 0) work = P.WORK_VERB_RE.test(s);
    return work != 0;
  };
  if (len < 20 && (!code_or_path() || !work_verb())) return false;
  // The keep rule (any of five tests, cheapest first: a code span or path
  // behind its pre-test, then the work verbs over the whole sentence), then
  // the three that turn a sentence down.  All are plain tests of the
  // sentence, so their order changes no answer; this one asks the costly
  // prefix tests only of sentences that would be kept.
  if (!code_or_path() && !work_verb() && !(cls::has_decimal(s) && has_number_or_version(s))) return false;
  if (P.NON_CLAIM_RE.test(s) || P.IMPERATIVE_RE.test(s)) return false;
  return !P.INTENT_RE.test(utf8::prefix(s, 40));
}

}  // namespace

std::string strip_fences(std::string_view text) { return scan::strip_fences(text); }

namespace {

// Scratch space of the sentence splitter, kept between paragraphs.
struct SentenceScratch {
  std::string work;
};

// The characters before the final dot of the abbreviations.
constexpr cls::ByteSet kAbbrLast = [] {
  cls::ByteSet set("");
  for (std::string_view a : ABBR) set.in[static_cast<unsigned char>(a[a.size() - 2])] = true;
  return set;
}();

// Whether the abbreviation `a` ends with the dot at `d`; compared from the
// end, where most candidates already differ.
inline bool abbreviation_ends_at(std::string_view s, std::size_t d, std::string_view a) {
  if (d + 1 < a.size()) return false;
  for (std::size_t k = a.size(), i = d + 1; k-- > 0;)
    if (s[--i] != a[k]) return false;
  return true;
}

// Cuts a paragraph into sentences and calls f(sentence) for each, trimmed
// and non-empty, in order, as they are found (nothing is kept per sentence,
// so a paragraph of any length costs no memory beyond the copy below).
template <class F>
void for_each_sentence(std::string_view par, SentenceScratch& scratch, F&& f) {
  // The dots of common abbreviations are protected with NUL so that no
  // sentence break is found after them; every NUL turns back into "."
  // afterwards.  Every abbreviation ends with a dot and none overlaps itself,
  // so its occurrences are found from the dots, one pass per abbreviation in
  // the listed order (an earlier one may take a dot a later one would need).
  const auto* bytes_of_par = reinterpret_cast<const unsigned char*>(par.data());
  const std::size_t n = par.size();
  bool nul = false, guard = false;  // a NUL byte in the text itself; an abbreviation
  for (std::size_t d = bytes::find_any(bytes_of_par, n, 0, '.', '\0', '\0'); d < n && !(nul && guard);
       d = bytes::find_any(bytes_of_par, n, d + 1, '.', '\0', '\0')) {
    if (par[d] == '\0') {
      nul = true;
      continue;
    }
    // The letter before the dot rules out most abbreviations at once.
    if (guard || d == 0 || !kAbbrLast.in[static_cast<unsigned char>(par[d - 1])]) continue;
    for (std::string_view a : ABBR) guard = guard || abbreviation_ends_at(par, d, a);
  }
  if (!guard && !nul) {
    scan::sentence_pieces(par, [&](std::string_view piece) {
      piece = cls::strip(piece);
      if (!piece.empty()) f(piece);
    });
    return;
  }
  // Work on a copy (kept between paragraphs, so its pages stay mapped).
  std::string& work = scratch.work;
  work.assign(par);
  auto* w = reinterpret_cast<unsigned char*>(work.data());
  for (std::string_view a : ABBR)
    for (std::size_t d = bytes::find_any(w, n, 0, '.', '.', '.'); d < n; d = bytes::find_any(w, n, d + 1, '.', '.', '.')) {
      if (!abbreviation_ends_at(work, d, a)) continue;
      for (std::size_t k = d + 1 - a.size(); k <= d; ++k)
        if (w[k] == '.') w[k] = '\0';
    }
  // Each piece gets its dots back before it is handed on; the splitter only
  // looks ahead of the piece it has just cut, and separators are white
  // space, so no NUL is lost by restoring them all.
  scan::sentence_pieces(work, [&](std::string_view piece) {
    auto* q = w + (piece.data() - work.data());
    for (std::size_t k = 0; k < piece.size(); ++k)
      if (q[k] == '\0') q[k] = '.';
    piece = cls::strip(piece);
    if (!piece.empty()) f(piece);
  });
}

}  // namespace

std::vector<std::string> sentences(std::string_view par) {
  std::vector<std::string> out;
  sentences(par, [&](std::string_view s) { out.emplace_back(s); });
  return out;
}

void sentences(std::string_view par, const std::function<void(std::string_view)>& f) {
  InputScope scope(par);
  SentenceScratch scratch;
  for_each_sentence(par, scratch, f);
}

std::vector<std::string> split_units(std::string_view final_report) {
  InputScope scope(final_report);
  const Patterns& P = patterns();
  // Texts are copied only where they change: without fences the report is
  // used as it is, a one-line paragraph is a view of its line.
  std::string stripped;
  std::string_view text = final_report;
  if (scan::has_fence(final_report)) text = stripped = scan::strip_fences(final_report);

  // Line pass: paragraphs, list items (with continuation lines) and table rows.
  std::vector<std::string_view> blocks;
  std::deque<std::string> built;  // joined paragraphs and table rows (stable addresses)
  std::vector<std::string_view> cur;
  auto flush = [&] {
    if (cur.empty()) return;
    if (cur.size() == 1) {
      blocks.push_back(cls::strip(cur[0]));
    } else {
      std::string& joined = built.emplace_back();
      std::size_t total = cur.size();
      for (std::string_view line : cur) total += line.size();
      joined.reserve(total);
      for (std::size_t i = 0; i < cur.size(); ++i) {
        if (i) joined.push_back(' ');
        joined.append(cls::strip(cur[i]));
      }
      blocks.push_back(joined);
    }
    cur.clear();
  };
  interrupt::Meter meter;
  for_each_line(text, [&](std::string_view raw) {
    meter.add(raw.size());
    std::string_view line = cls::rstrip(raw);
    std::string_view s = cls::lstrip(line);
    if (s.empty()) {
      flush();
      return;
    }
    if (s.front() == '#' || scan::table_rule(s)) {
      flush();
      return;
    }
    if (s.front() == '|') {
      flush();
      std::string_view inner = uni::strip_chars(s, U"|");
      std::vector<std::string_view> cells;
      std::size_t start = 0;
      for (;;) {
        std::size_t bar = inner.find('|', start);
        cells.push_back(cls::strip(inner.substr(start, bar == std::string_view::npos ? bar : bar - start)));
        if (bar == std::string_view::npos) break;
        start = bar + 1;
      }
      bool keep = false;
      for (std::string_view c : cells)
        if (!c.empty() && !scan::rule_cell(c)) keep = true;
      if (keep) {
        std::string& row = built.emplace_back();
        for (std::string_view c : cells) {
          if (c.empty()) continue;
          if (!row.empty()) row.append(" \u00b7 ");
          row.append(c);
        }
        blocks.push_back(row);
      }
      return;
    }
    if (std::size_t end = scan::list_marker_end(s)) {
      flush();
      cur.push_back(s.substr(end));
      return;
    }
    cur.push_back(s);
  });
  flush();
  meter.flush();

  // Block pass: sentences that read like claims, each kept unless a
  // near-duplicate came before it (same text after lower-casing and
  // collapsing non-word runs).
  std::vector<std::string> out;
  SentenceScratch scratch;
  std::string unbolded, key;
  KeySet seen;
  for (std::string_view b : blocks) {
    meter.add(b.size());
    if (b.find("**") != std::string_view::npos) b = unbolded = scan::unbold(b);
    b.remove_prefix(scan::status_end(b));
    for_each_sentence(b, scratch, [&](std::string_view sent) {
      std::string_view s = trim_sentence(sent);
      if (!is_unit(s, P)) return;
      scan::duplicate_key(s, key);
      if (seen.insert(key)) out.emplace_back(s);
    });
  }
  meter.flush();
  return out;
}

}  // namespace vorlane::extract
