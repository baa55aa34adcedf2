// IMPERATIVE_RE's test without the engine.  The pattern is
//   ^(VERB|...)\b(?!\w)  |  ^(VERB2|...)\s+(?:OBJECT|...|`|/|~)\b
// ignoring case: a sentence that opens with a bare command verb, or with a
// second-list verb, white space and a determiner, pronoun or path start.
// Built from the pattern text itself, so the two cannot drift apart.
#pragma once

#include <string_view>

#include "extract/word_list.hpp"

namespace vorlane::extract {

class Imperative {
 public:
  // Throws std::logic_error for a text of another shape.
  explicit Imperative(std::string_view python_source);
  bool test(std::string_view s) const;

 private:
  struct Parts {
    std::string first, verbs, objects;
  };
  static Parts split(std::string_view p);
  explicit Imperative(Parts parts);

  WordList first_;    // ^(VERB|...)\b
  WordList verbs_;    // ^(VERB2|...)
  WordList objects_;  // ^(OBJECT|...)\b, the word objects
};

}  // namespace vorlane::extract
