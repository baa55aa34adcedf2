// Literal targets: the code spans, dates, versions, dimensions, paths,
// key=value settings and numbers a Unit rests on.
#include <unordered_set>

#include "extract/extract.hpp"
#include "extract/patterns.hpp"
#include "extract/token_scan.hpp"
#include "text/char_class.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace vorlane::extract {

namespace {

constexpr std::u32string_view kTrailingTidy = U",;:.";
constexpr std::u32string_view kLeadingTidy = U",;:";
constexpr std::u32string_view kKeyStrip = U"~\u2248";

template <class P>
void collect_tidy(P&& p, std::string_view text, std::vector<std::string>& out) {
  p.for_each(text, [&](const Match& m) {
    out.push_back(tidy(m.text(text)));
    return true;
  });
}

std::string blank(const Pattern& p, std::string_view text) { return p.sub(text, " "); }

}  // namespace

std::string tidy(std::string_view x) {
  std::string_view v = uni::strip(x);
  v = uni::rstrip_chars(v, kTrailingTidy);
  v = uni::lstrip_chars(v, kLeadingTidy);
  // Drop unbalanced closing parentheses at the end ("run(x))" -> "run(x)").
  // Counted once; every step only removes characters from the end.
  std::size_t open = 0, close = 0;
  for (char ch : v) {
    open += ch == '(';
    close += ch == ')';
  }
  while (!v.empty() && v.back() == ')' && close > open) {
    v.remove_suffix(1);
    --close;
    v = uni::rstrip_chars(v, kTrailingTidy);  // removes no parenthesis
  }
  return std::string(uni::strip(v));
}

std::vector<std::string> literal_targets(std::string_view unit) {
  InputScope scope(unit);
  const Patterns& P = patterns();
  std::vector<std::string> t;

  std::string plain(unit);
  // The character tests below are exact: each skipped pattern cannot match
  // without that character.
  if (unit.find('`') != std::string_view::npos) {
    P.CODE_RE.for_each(unit, [&](const Match& m) {
      t.push_back(tidy(m.group(unit, 1)));
      return true;
    });
    plain = blank(P.CODE_RE, unit);
  }

  // Dates, versions, dimensions, times and numbers all need a digit.
  bool digits = uni::has_decimal(plain);
  if (digits) {
    for (const Pattern* p : {&P.DATE_RE, &P.VERSION_RE, &P.DIM_RE}) {
      collect_tidy(*p, plain, t);
      plain = blank(*p, plain);
    }
    // Times and short dates are removed without being collected, so their
    // digits never become number targets.
    plain = blank(P.TIME_RE, plain);
  }
  // Paths stay in the text: key=value pairs and numbers may overlap them.
  if (cls::find_any(plain, "~/.") != std::string::npos) collect_tidy(PathFinder(), plain, t);
  if (plain.find('=') != std::string::npos) {
    KeyvalFinder keyval;
    collect_tidy(keyval, plain, t);
    plain = keyval.sub(plain, " ");
  }

  if (digits) P.NUM_RE.for_each(plain, [&](const Match& m) {
    std::string_view n = m.text(plain);
    std::size_t digits = 0;
    for (std::size_t i = 0; i < n.size();) {
      char c = n[i];
      if (c != ',' && c != '.') ++digits;
      i += utf8::seq_len(static_cast<unsigned char>(c));
    }
    if (digits >= 2) t.emplace_back(n);
    return true;
  });

  std::vector<std::string> out;
  std::unordered_set<std::string> seen;
  for (std::string& x : t) {
    if (x.empty()) continue;
    std::string lowered = uni::lower(x);
    std::string key(uni::lstrip_chars(lowered, kKeyStrip));
    if (utf8::length(key) < 2) continue;
    if (seen.insert(std::move(key)).second) out.push_back(std::move(x));
  }
  return out;
}

}  // namespace vorlane::extract
