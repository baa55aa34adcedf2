#include "extract/claims.hpp"

#include <algorithm>
#include <unordered_set>

#include "extract/extract.hpp"
#include "extract/patterns.hpp"
#include "text/unicode.hpp"

namespace vorlane::extract {

std::vector<std::string> merge_targets(std::vector<std::string> targets,
                                       const std::vector<std::string>& model_targets) {
  if (model_targets.empty()) return targets;
  // Targets only ever grow by appending, so keeping the lower-cased set up
  // to date equals rebuilding it for every model target.
  std::unordered_set<std::string> lowered;
  for (const std::string& t : targets) lowered.insert(uni::lower(t));
  for (const std::string& t : model_targets) {
    std::string key = uni::lower(t);
    if (lowered.insert(std::move(key)).second) targets.push_back(t);
  }
  return targets;
}

std::vector<Claim> claims_from_units(const std::vector<std::string>& units, bool use_llm,
                                     const ModelSettings& settings) {
  if (units.empty()) return {};

  interrupt::Scope interruptible;
  std::vector<UnitRecord> cls;
  if (use_llm) {
    cls = classify_units(units, settings);
  } else {
    cls.reserve(units.size());
    for (const std::string& u : units) {
      interrupt::tick(u.size());
      cls.push_back(UnitRecord{std::string(heuristic_kind(u)), {}});
    }
  }

  std::vector<Claim> claims;
  const std::size_t n = std::min(units.size(), cls.size());
  claims.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    interrupt::tick(units[i].size());
    std::vector<std::string> targets = merge_targets(literal_targets(units[i]), cls[i].model_targets);
    claims.push_back(Claim{units[i], std::move(cls[i].kind), std::move(targets)});
  }
  return claims;
}

std::vector<Claim> extract_claims(std::string_view final_report, bool use_llm,
                                  const ModelSettings& settings) {
  return claims_from_units(split_units(final_report), use_llm, settings);
}

}  // namespace vorlane::extract
