// Report segmentation: fenced code removal, sentence splitting and the
// line/block passes that turn a report into Units.
#include <string>
#include <unordered_set>

#include "extract/extract.hpp"
#include "extract/patterns.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace vorlane::extract {

namespace {

const Pattern& fence_re() {
  static const Pattern p("```.*?```", Pattern::DOTALL);
  return p;
}
const Pattern& sentence_break_re() {
  static const Pattern p(R"((?<=[.!?])\s+(?=[A-Z`*"'(\[]))");
  return p;
}
const Pattern& table_rule_re() {
  static const Pattern p(R"(^\|?\s*:?-{2,})", 0, Pattern::Mode::Match);
  return p;
}
const Pattern& list_marker_re() {
  static const Pattern p(R"(^(\d+[.)]|[-*•]|\[[ x]\])\s+)", 0, Pattern::Mode::Match);
  return p;
}
const Pattern& rule_cell_re() {
  static const Pattern p(R"(^[-: ]+$)", 0, Pattern::Mode::Match);
  return p;
}
const Pattern& bold_re() {
  static const Pattern p(R"(\*\*(.+?)\*\*)");
  return p;
}
const Pattern& status_re() {
  static const Pattern p("^\\s*[✔✅⚠️❌🟠◌]+\\s*", 0, Pattern::Mode::Match);
  return p;
}
const Pattern& non_word_run_re() {
  static const Pattern p(R"(\W+)");
  return p;
}

// Characters trimmed from both ends of a sentence: space, hyphen, en dash,
// em dash and colon.
constexpr std::u32string_view kSentenceTrim = U" -\u2013\u2014:";

// Splits like str.splitlines(): LF, CR, CR LF, VT, FF, FS, GS, RS, NEL,
// LINE SEPARATOR and PARAGRAPH SEPARATOR end a line.
template <class F>
void for_each_line(std::string_view text, F&& f) {
  std::size_t start = 0, i = 0, n = text.size();
  while (i < n) {
    auto b = static_cast<unsigned char>(text[i]);
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

bool is_unit(std::string_view s, const Patterns& P) {
  std::size_t len = utf8::length(s);
  if (len < 8 || (!s.empty() && s.back() == '?')) return false;
  // Cheap exact pre-tests: a code span needs a backtick, a path one of
  // "~", "/" or ".", numbers and versions a digit.
  bool tick = s.find('`') != std::string_view::npos;
  bool path_chars = s.find_first_of("~/.") != std::string_view::npos;
  auto code_or_path = [&] { return (tick && P.CODE_RE.test(s)) || (path_chars && P.PATH_RE.test(s)); };
  if (len < 20 && (!code_or_path() || !P.WORK_VERB_RE.test(s))) return false;
  if (P.NON_CLAIM_RE.test(s) || P.IMPERATIVE_RE.test(s)) return false;
  if (P.INTENT_RE.test(utf8::prefix(s, 40))) return false;
  if (P.WORK_VERB_RE.test(s) || code_or_path()) return true;
  return uni::has_decimal(s) && (P.NUM_RE.test(s) || P.VERSION_RE.test(s));
}

}  // namespace

std::string strip_fences(std::string_view text) { return fence_re().sub(text, " "); }

std::vector<std::string> sentences(std::string_view par) {
  // Protect the dots of common abbreviations with NUL so that no sentence
  // break is found after them; every NUL turns back into "." at the end.
  std::string work(par);
  for (std::string_view a : ABBR) {
    std::string guarded(a);
    for (char& c : guarded)
      if (c == '.') c = '\0';
    std::string next;
    std::size_t pos = 0;
    for (;;) {
      std::size_t hit = work.find(a, pos);
      if (hit == std::string::npos) break;
      next.append(work, pos, hit - pos);
      next.append(guarded);
      pos = hit + a.size();
    }
    if (pos == 0) continue;
    next.append(work, pos, std::string::npos);
    work.swap(next);
  }
  std::vector<std::string> out;
  for (std::string_view piece : sentence_break_re().split(work)) {
    if (uni::is_blank(piece)) continue;
    std::string s(piece);
    for (char& c : s)
      if (c == '\0') c = '.';
    out.emplace_back(uni::strip(s));
  }
  return out;
}

std::vector<std::string> split_units(std::string_view final_report) {
  const Patterns& P = patterns();
  std::string text = strip_fences(final_report);

  // Line pass: paragraphs, list items (with continuation lines) and table rows.
  std::vector<std::string> blocks;
  std::vector<std::string_view> cur;
  auto flush = [&] {
    if (cur.empty()) return;
    std::string joined;
    for (std::size_t i = 0; i < cur.size(); ++i) {
      if (i) joined.push_back(' ');
      joined.append(uni::strip(cur[i]));
    }
    blocks.push_back(std::move(joined));
    cur.clear();
  };
  for_each_line(text, [&](std::string_view raw) {
    std::string_view line = uni::rstrip(raw);
    std::string_view s = uni::lstrip(line);
    if (s.empty()) {
      flush();
      return;
    }
    if (s.front() == '#' || table_rule_re().test(s)) {
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
        cells.push_back(uni::strip(inner.substr(start, bar == std::string_view::npos ? bar : bar - start)));
        if (bar == std::string_view::npos) break;
        start = bar + 1;
      }
      bool keep = false;
      for (std::string_view c : cells)
        if (!c.empty() && !rule_cell_re().test(c)) keep = true;
      if (keep) {
        std::string row;
        for (std::string_view c : cells) {
          if (c.empty()) continue;
          if (!row.empty()) row.append(" \u00b7 ");
          row.append(c);
        }
        blocks.push_back(std::move(row));
      }
      return;
    }
    Match m;
    if (list_marker_re().search(s, &m)) {
      flush();
      cur.push_back(s.substr(m.end));
      return;
    }
    cur.push_back(s);
  });
  flush();

  // Block pass: sentences that read like claims.
  std::vector<std::string> units;
  for (const std::string& b0 : blocks) {
    std::string b = bold_re().sub(b0, "\\1", true);
    Match m;
    if (status_re().search(b, &m)) b.erase(0, m.end);
    for (const std::string& sent : sentences(b)) {
      std::string_view s = uni::strip_chars(sent, kSentenceTrim);
      if (is_unit(s, P)) units.emplace_back(s);
    }
  }

  // Near-duplicates: same text after lower-casing and collapsing non-word runs.
  std::vector<std::string> out;
  std::unordered_set<std::string> seen;
  for (std::string& u : units) {
    std::string key(uni::strip(non_word_run_re().sub(uni::lower(u), " ")));
    if (seen.insert(std::move(key)).second) out.push_back(std::move(u));
  }
  return out;
}

}  // namespace vorlane::extract
