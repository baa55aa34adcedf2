// The extract module's compiled patterns, built once on first use and shared
// by every call (PCRE2 code is read-only after compilation).
#pragma once

#include <string_view>
#include <vector>

#include "text/pattern.hpp"

namespace vorlane::extract {

struct Patterns {
  // Literal targets.
  Pattern DATE_RE, VERSION_RE, DIM_RE, TIME_RE, PATH_RE, KEYVAL_RE, NUM_RE, CODE_RE;
  // Unit filters.
  Pattern NON_CLAIM_RE, INTENT_RE, WORK_VERB_RE, IMPERATIVE_RE;
  // Kind heuristics.
  Pattern RUN_VERB_RE, EDIT_VERB_RE, NEGATED_RE, CMD_WORD_RE;
  Patterns();
};

// The shared instance (thread-safe lazy construction).
const Patterns& patterns();

// The module's public pattern constants, for the host bindings.
std::vector<PatternInfo> exported_patterns();

}  // namespace vorlane::extract
