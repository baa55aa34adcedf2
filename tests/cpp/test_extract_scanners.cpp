// The hand-written scanners of the extract core against the engine: each is
// checked over generated texts to give exactly what PCRE2 gives for the
// pattern text it stands for (same spans, same answers).
#include <cstdint>
#include <string>
#include <vector>

#include "check.hpp"
#include "extract/imperative.hpp"
#include "extract/line_scan.hpp"
#include "extract/patterns.hpp"
#include "extract/target_hints.hpp"
#include "extract/token_scan.hpp"
#include "extract/word_list.hpp"
#include "text/pattern.hpp"
#include "text/unicode.hpp"

using namespace vorlane;
using namespace vorlane::extract;

namespace {

// Pieces the texts are glued from: words of the lists in several cases,
// characters that fold onto ASCII letters (U+017F, U+212A), runs that
// defeat backtracking, and the punctuation every scanner keys on.
const std::vector<std::string> kPieces = {
    "ran", "Run", "RE-RAN", "reran", "set", "Set", "not", "didn't", "do not", "added", "creat", "create",
    "writes", "is on", "now  on", "i'll", "I will", "going to", "next", "Note", "here's", "build", "push",
    "the", "an", "a", "your", "send", "check", "\u017fet", "\u212aept", "wor\u212as", "a", "b_c", "x", "1",
    "42", "1,000", "1.2.3", "\u0661", ".", "..", "-", "_", "=", " = ", "/", "~", "/home/u", "/tmp", ":",
    ".py", ".md", ".json", ".tscn", "e.g.", "`", "**", "*", "(", ")", "|", "- ", "1. ", "[x] ", " ", "  ",
    "\t", "\n", "\u00a0", "\u2003", "!", "?", "\u2705", "\u26a0\ufe0f", "\u2192", "\u00e9", "\u03a3", "\"",
    "'", "[", "A", "Z", "patched", "Edited", "not ", "never ", "I'd", "let's", "working", "2024", "-01", "12:30", "3x4", "\u00d7",
    "x", "Jan", "Sept", "7/8", "\u0663", "+", "/Users/x", "/etc", "/var", "/opt", "x:/", "//", "v", ",000", ",12", ".5", "1.2.3.4", "9a"};

struct Rng {
  std::uint64_t s = 0x9E3779B97F4A7C15ULL;
  std::uint64_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
};

std::vector<std::string> texts() {
  std::vector<std::string> out;
  Rng r;
  for (int i = 0; i < 6000; ++i) {
    std::string t;
    std::size_t parts = 1 + r.below(14);
    for (std::size_t k = 0; k < parts; ++k) {
      const std::string& p = kPieces[r.below(kPieces.size())];
      std::size_t reps = r.below(5) == 0 ? 1 + r.below(30) : 1;
      for (std::size_t j = 0; j < reps; ++j) t += p;
    }
    out.push_back(std::move(t));
  }
  return out;
}

std::string_view source(std::string_view name) {
  for (const PatternInfo& p : exported_patterns())
    if (name == p.name) return p.source;
  return {};
}

std::vector<std::pair<std::size_t, std::size_t>> spans(const Pattern& p, std::string_view s) {
  std::vector<std::pair<std::size_t, std::size_t>> out;
  for (const Match& m : p.find_all(s)) out.emplace_back(m.begin, m.end);
  return out;
}

std::vector<std::pair<std::size_t, std::size_t>> spans(Finder&& f, std::string_view s) {
  std::vector<std::pair<std::size_t, std::size_t>> out;
  f.for_each(s, [&](const Match& m) {
    out.emplace_back(m.begin, m.end);
    return true;
  });
  return out;
}

}  // namespace

int main() {
  const std::vector<std::string> all = texts();
  constexpr unsigned I = Pattern::IGNORECASE;
  using M = Pattern::Mode;

  struct ListCase {
    const char* name;
    Pattern::Mode mode;
  };
  for (ListCase c : {ListCase{"NON_CLAIM_RE", M::Match}, ListCase{"INTENT_RE", M::Search},
                     ListCase{"WORK_VERB_RE", M::Search}, ListCase{"RUN_VERB_RE", M::Search}}) {
    WordList list(source(c.name));
    Pattern engine(source(c.name), I, c.mode);
    for (const std::string& t : all) CHECK_EQ(list.test(t), engine.test(t));
  }
  // Leftmost matches, left to right, with the engine's spans.
  for (const char* name : {"EDIT_VERB_RE", "WORK_VERB_RE", "RUN_VERB_RE", "INTENT_RE"}) {
    WordList list(source(name));
    Pattern engine(source(name), I);
    for (const std::string& t : all) {
      std::vector<std::pair<std::size_t, std::size_t>> found;
      for (std::size_t pos = 0, b, e; list.find(t, pos, b, e); pos = e) found.emplace_back(b, e);
      CHECK(found == spans(engine, t));
    }
  }
  // The pre-tests of the literal-target patterns never rule out a match.
  {
    Pattern date(source("DATE_RE")), version(source("VERSION_RE")), dim(source("DIM_RE")), time(source("TIME_RE"));
    for (const std::string& t : all) {
      if (!hint::may_hold_date(t)) CHECK(!date.test(t));
      if (!hint::may_hold_version(t)) CHECK(!version.test(t));
      if (!hint::may_hold_dimension(t)) CHECK(!dim.test(t));
      if (!hint::may_hold_time(t)) CHECK(!time.test(t));
    }
  }
  {
    Pattern num(source("NUM_RE")), version(source("VERSION_RE"));
    for (const std::string& t : all) {
      bool n = num.test(t);
      CHECK_EQ(has_number(t), n);
      CHECK_EQ(has_number_or_version(t), n || version.test(t));
    }
  }
  {
    std::string_view src = source("IMPERATIVE_RE");
    Imperative fast(src);
    Pattern engine(src, I, M::Match);
    for (const std::string& t : all) CHECK_EQ(fast.test(t), engine.test(t));
  }
  {
    Pattern path(source("PATH_RE")), keyval(source("KEYVAL_RE")), code(source("CODE_RE"));
    Pattern negated(source("NEGATED_RE"), I);
    for (const std::string& t : all) {
      CHECK(spans(PathFinder(), t) == spans(path, t));
      CHECK(spans(KeyvalFinder(), t) == spans(keyval, t));
      CHECK(spans(CodeSpanFinder(), t) == spans(code, t));
      for (std::size_t k = 0; k <= t.size(); ++k)
        if (k == t.size() || (static_cast<unsigned char>(t[k]) & 0xC0) != 0x80)
          CHECK_EQ(negated_before(t, k), negated.test(std::string_view(t).substr(0, k)));
    }
  }
  {
    Pattern fence("```.*?```", Pattern::DOTALL), rule(R"(^\|?\s*:?-{2,})", 0, M::Match);
    Pattern marker(R"(^(\d+[.)]|[-*•]|\[[ x]\])\s+)", 0, M::Match), bold(R"(\*\*(.+?)\*\*)");
    Pattern status("^\\s*[✔✅⚠️❌🟠◌]+\\s*", 0, M::Match), cell(R"(^[-: ]+$)", 0, M::Match);
    Pattern brk(R"((?<=[.!?])\s+(?=[A-Z`*"'(\[]))"), non_word(R"(\W+)");
    for (const std::string& t : all) {
      CHECK_EQ(scan::strip_fences(t), fence.sub(t, " "));
      CHECK_EQ(scan::table_rule(t), rule.test(t));
      Match m;
      CHECK_EQ(scan::list_marker_end(t), marker.search(t, &m) ? m.end : std::size_t{0});
      CHECK_EQ(scan::status_end(t), status.search(t, &m) ? m.end : std::size_t{0});
      CHECK_EQ(scan::unbold(t), bold.sub(t, "\\1", true));
      if (t.find('\n') == std::string::npos) CHECK_EQ(scan::rule_cell(t), cell.test(t));
      std::vector<std::string_view> pieces;
      scan::sentence_pieces(t, [&](std::string_view p) { pieces.push_back(p); });
      CHECK(pieces == brk.split(t));
      CHECK_EQ(scan::duplicate_key(t), std::string(uni::strip(non_word.sub(uni::lower(t), " "))));
    }
  }
  return check::finish("test_extract_scanners");
}
