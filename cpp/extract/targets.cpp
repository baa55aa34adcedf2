// Literal targets: the code spans, dates, versions, dimensions, paths,
// key=value settings and numbers a Unit rests on.

#include "extract/extract.hpp"
#include "extract/key_set.hpp"
#include "extract/patterns.hpp"
#include "extract/target_hints.hpp"
#include "extract/token_scan.hpp"
#include "text/char_class.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace vorlane::extract {

namespace {

constexpr std::u32string_view kTrailingTidy = U",;:.";
constexpr std::u32string_view kLeadingTidy = U",;:";
constexpr std::u32string_view kKeyStrip = U"~\u2248";

// The targets kept so far: each candidate is looked at as it is found, in
// the order found, and kept unless it is empty, its key (lower case, without
// leading "~" and "≈") is shorter than two characters, or an earlier
// target had the same key.  Candidates that go are never stored.
class Targets {
 public:
  void add(std::string_view x) {
    if (x.empty()) return;
    if (utf8::is_ascii(x)) {  // lower case without the Unicode tables
      lowered_.resize(x.size());
      for (std::size_t i = 0; i < x.size(); ++i)
        lowered_[i] = (x[i] >= 'A' && x[i] <= 'Z') ? static_cast<char>(x[i] + 32) : x[i];
    } else {
      lowered_ = uni::lower(x);
    }
    std::string_view key = uni::lstrip_chars(lowered_, kKeyStrip);
    if (utf8::length(key) < 2) return;
    if (seen_.insert(key)) kept_.emplace_back(x);
  }
  std::vector<std::string> take() { return std::move(kept_); }

 private:
  std::vector<std::string> kept_;
  KeySet seen_;
  std::string lowered_;
};

template <class P>
void collect_tidy(P&& p, std::string_view text, Targets& out) {
  p.for_each(text, [&](const Match& m) {
    out.add(tidy_view(m.text(text)));
    return true;
  });
}

// Every match of `p` in `text` replaced by a space, in one pass with
// collecting the tidied matches (group `g`) into `out` when it is given.
template <class P>
void take(P&& p, std::string& text, Targets* out, int g = 0) {
  std::string blanked;
  std::size_t last = 0;
  bool any = false;
  p.for_each(text, [&](const Match& m) {
    any = true;
    if (out) out->add(tidy_view(m.group(text, g)));
    blanked.append(text, last, m.begin - last);
    blanked.push_back(' ');
    last = m.end;
    return true;
  });
  if (!any) return;
  blanked.append(text, last);
  text.swap(blanked);
}

}  // namespace

std::string tidy(std::string_view x) { return std::string(tidy_view(x)); }

std::string_view tidy_view(std::string_view x) {
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
  return uni::strip(v);
}

std::vector<std::string> literal_targets(std::string_view unit) {
  InputScope scope(unit);
  const Patterns& P = patterns();
  Targets t;

  std::string plain(unit);
  // The character tests below are exact: each skipped pattern cannot match
  // without that character.
  if (unit.find('`') != std::string_view::npos) take(CodeSpanFinder(), plain, &t, 1);

  // Dates, versions, dimensions, times and numbers all need a digit; the
  // others are tried only where their separators stand between digits.
  bool digits = cls::has_decimal(plain);
  if (digits) {
    if (hint::may_hold_date(plain)) take(P.DATE_RE, plain, &t);
    if (hint::may_hold_version(plain)) take(P.VERSION_RE, plain, &t);
    if (hint::may_hold_dimension(plain)) take(P.DIM_RE, plain, &t);
    // Times and short dates are removed without being collected, so their
    // digits never become number targets.
    if (hint::may_hold_time(plain)) take(P.TIME_RE, plain, nullptr);
  }
  // Paths stay in the text: key=value pairs and numbers may overlap them.
  if (cls::has_path_char(plain)) collect_tidy(PathFinder(), plain, t);
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
    if (digits >= 2) t.add(n);
    return true;
  });
  return t.take();
}

}  // namespace vorlane::extract
