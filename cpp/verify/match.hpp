// Looking a literal up in lists of log texts: through its variants (`in`) or
// through its significant words (`words_in`).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "verify/runlog.hpp"
#include "verify/text_search.hpp"

namespace vorlane::verify {

// A list of texts as the matchers take it.  Entries that are neither text nor
// null make every lookup in the list fail, whichever entry would settle it.
struct TextList {
  std::vector<TextValue> items;
  int32_t type_fault = -1;  // of the first entry that is neither text nor null

  void push(const TextValue& v) {
    if (type_fault < 0 && v.kind == TextValue::Kind::Other) type_fault = v.type_fault;
    items.push_back(v);
  }
};

// A literal prepared for lookups.
struct Literal {
  std::string norm;
  Needles variants;
  std::vector<Needles> tokens;  // one per significant word
};

// The lookups of one call.  A literal is normalised and prepared once per
// call, however often it is looked up.
class Matcher {
 public:
  // `home` is the home directory, or null with `home_fault` when there is none.
  Matcher(const Faults& faults, const std::string* home, int32_t home_fault)
      : faults_(faults), home_(home), home_fault_(home_fault) {}

  // The normalised form of `lit` (fails when there is no home directory).
  const std::string& norm(std::string_view lit) { return literal(lit).norm; }

  // Some variant of `lit` stands in some text of `texts`.
  bool in(std::string_view lit, const TextList& texts);
  // The same for the one-text list [v].
  bool in_one(std::string_view lit, const TextValue& v);
  // Every significant word of `lit` (two at least) stands in one text.
  bool words_in(std::string_view lit, const TextList& texts);

 private:
  Literal& literal(std::string_view lit);

  const Faults& faults_;
  const std::string* home_;
  int32_t home_fault_;
  std::unordered_map<std::string, std::unique_ptr<Literal>> literals_;
};

}  // namespace vorlane::verify
