// The extract module's compiled patterns, built once on first use and shared
// by every call (PCRE2 code is read-only after compilation).
#pragma once

#include <string_view>
#include <vector>

#include "text/interrupt.hpp"
#include "extract/imperative.hpp"
#include "extract/word_list.hpp"
#include "text/pattern.hpp"

namespace vorlane::extract {

struct Patterns {
  // Literal targets (PATH_RE and KEYVAL_RE: see token_scan.hpp).
  Pattern DATE_RE, VERSION_RE, DIM_RE, TIME_RE, NUM_RE, CODE_RE;
  // PATH_RE's prefixed and slashed alternatives (its dotted file-name
  // alternative is found by PathFinder, see token_scan.hpp).
  Pattern PATH_HEAD_RE;
  // Unit filters.
  Imperative IMPERATIVE_RE;
  WordList NON_CLAIM_RE, INTENT_RE, WORK_VERB_RE;
  // Kind heuristics.
  WordList RUN_VERB_RE, EDIT_VERB_RE;
  Pattern NEGATED_RE, CMD_WORD_RE;
  Patterns();
};

// Opened by every entry point on its input: patterns skip the per-call UTF-8
// check once the input is known to be well-formed, and long work may be
// interrupted by the host.
struct InputScope {
  explicit InputScope(std::string_view input) : trust(input) {}
  TrustScope trust;
  interrupt::Scope interruptible;
};

// The shared instance (thread-safe lazy construction).
const Patterns& patterns();

// The module's public pattern constants, for the host bindings.
std::vector<PatternInfo> exported_patterns();

}  // namespace vorlane::extract
