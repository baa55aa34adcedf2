// The verdict on one claim against the run log of its turn.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "verify/names.hpp"
#include "verify/runlog.hpp"

namespace vorlane::verify {

struct Verdict {
  std::string word;  // one of VERDICTS
  std::string note;
};

// The atoms of the claim's literal targets (already turned into texts, falsy
// ones left out), without short phrases.
std::vector<std::string> claim_atoms(const std::vector<std::string>& targets);

// The verdict for a claim without atoms.
Verdict nothing_to_check();

// The verdict for a claim with at least one atom.  Raises the log's faults
// (and the failure to find the home directory) where the rules first read
// the faulty value.
Verdict judge(const ClaimKind& kind, std::string_view text, const std::vector<std::string>& atoms,
              const RunLog& log);

}  // namespace vorlane::verify
