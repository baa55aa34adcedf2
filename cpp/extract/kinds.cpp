// Claim kinds from word patterns: the unambiguous strong kinds and the full
// heuristic cascade.
#include "extract/extract.hpp"
#include "extract/patterns.hpp"
#include "extract/token_scan.hpp"
#include "text/char_class.hpp"
#include "text/unicode.hpp"

namespace vorlane::extract {

namespace {

// The word-list patterns below ignore case.
const WordList& loose_run_re() {
  static const WordList p(R"(\b(ran|run|executed|re-ran|invoked)\b)");
  return p;
}
const Pattern& command_span_re() {
  static const Pattern p(R"(^\s*(\$|sudo |git |python|npm|docker|systemctl|curl|ssh|gradle|\./))", 0,
                         Pattern::Mode::Match);
  return p;
}
const WordList& external_word_re() {
  static const WordList p(R"(\b(cron|schedul|sent|send|message|posted|brain|skill|browser|deleg)\w*)");
  return p;
}
const WordList& observation_word_re() {
  static const WordList p(R"(\b(confirm|verif|report|return|show|observ|pass|fail|found)\w*)");
  return p;
}

std::vector<std::string_view> code_spans(std::string_view unit) {
  std::vector<std::string_view> code;
  if (unit.find('`') == std::string_view::npos) return code;
  CodeSpanFinder().for_each(unit, [&](const Match& m) {
    code.push_back(m.group(unit, 1));
    return true;
  });
  return code;
}

// Which of the kind word lists match a Unit, each found on first need.
class ListHits {
 public:
  explicit ListHits(std::string_view unit) : unit_(unit) {}
  bool run_verb() { return get(0, patterns().RUN_VERB_RE); }
  bool loose_run() { return get(1, loose_run_re()); }
  bool external() { return get(2, external_word_re()); }
  bool observation() { return get(3, observation_word_re()); }

 private:
  bool get(std::size_t k, const WordList& list) {
    if (found_[k] < 0) found_[k] = list.test(unit_);
    return found_[k] != 0;
  }
  std::string_view unit_;
  int found_[4] = {-1, -1, -1, -1};
};

std::optional<std::string_view> strong_kind_of(std::string_view unit, const std::vector<std::string_view>& code,
                                               ListHits& hits) {
  const Patterns& P = patterns();
  if (!code.empty() && hits.run_verb()) return KINDS[1];
  for (std::string_view c : code)
    if (P.CMD_WORD_RE.test(c)) return KINDS[1];
  bool has_lit = !code.empty() || (unit.find('=') != std::string_view::npos && KeyvalFinder().test(unit)) ||
                 (cls::has_path_char(unit) && PathFinder().test(unit));
  if (!has_lit) return std::nullopt;
  // A negation within the three words before the verb cancels it; a later
  // verb may still count.
  for (std::size_t pos = 0, b, e; P.EDIT_VERB_RE.find(unit, pos, b, e); pos = e) {
    interrupt::tick(e - pos);
    if (!negated_before(unit, b)) return KINDS[0];
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string_view> strong_kind(std::string_view unit) {
  InputScope scope(unit);
  ListHits hits(unit);
  return strong_kind_of(unit, code_spans(unit), hits);
}

std::string_view heuristic_kind(std::string_view unit) {
  InputScope scope(unit);
  std::vector<std::string_view> code = code_spans(unit);
  ListHits hits(unit);
  if (auto k = strong_kind_of(unit, code, hits)) return *k;
  if (hits.loose_run()) return KINDS[1];
  for (std::string_view c : code)
    if (command_span_re().test(c)) return KINDS[1];
  if (hits.external()) return KINDS[3];
  if ((cls::has_decimal(unit) && has_number(unit)) || hits.observation()) return KINDS[2];
  return KINDS[4];
}

}  // namespace vorlane::extract
