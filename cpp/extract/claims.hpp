// The claim extraction driver: report text -> Claims (Unit, kind, targets).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "extract/classify.hpp"

namespace vorlane::extract {

struct Claim {
  std::string text;                  // the Unit as split_units gave it
  std::string kind;                  // one of KINDS
  std::vector<std::string> targets;  // literal targets, then accepted model targets
};

// `literal` followed by each model target whose lower-cased form equals
// none of the lower-cased targets already in the list (model targets taken
// earlier included); kept targets are unchanged.
std::vector<std::string> merge_targets(std::vector<std::string> literal,
                                       const std::vector<std::string>& model_targets);

// One Claim per Unit, in order, for Units already split from a report.  With
// `use_llm` the model classifies the Units (one request, even for a single
// Unit; none when `units` is empty); otherwise every Unit gets its
// heuristic kind.  Errors of the model path propagate unchanged.
std::vector<Claim> claims_from_units(const std::vector<std::string>& units, bool use_llm,
                                     const ModelSettings& settings);

// split_units, then claims_from_units.
std::vector<Claim> extract_claims(std::string_view final_report, bool use_llm,
                                  const ModelSettings& settings);

}  // namespace vorlane::extract
