// A fast existence test for the word-list patterns of the extract module:
// `\b(alt|alt|...)\b` or `\b(alt|alt|...)\w*`, ignoring case, where each
// alternative is ASCII text (letters, digits, "'", "-", " "; a "?" makes the
// character before it optional) with an optional `\w*` or `\w+` tail.
//
// test() answers exactly what Pattern::test answers for the same pattern
// text (case compared by Unicode simple case folding, under which only
// U+212A KELVIN SIGN and U+017F LONG S fold onto ASCII letters), by looking
// up each word start in a table of the alternatives by first letter instead
// of running the whole alternation at every position.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane::extract {

class WordList {
 public:
  // Throws std::logic_error for a pattern text outside the form above.
  explicit WordList(std::string_view python_source);

  // True when the pattern matches somewhere in `s`.
  bool test(std::string_view s) const;

 private:
  enum class Tail { None, Star, Plus };
  struct Alt {
    std::string text;  // lower case
    Tail tail;
  };
  bool matches_at(std::string_view s, std::size_t p, const Alt& a) const;

  std::array<std::vector<Alt>, 36> by_first_;  // a-z, 0-9
  bool end_boundary_;                          // pattern ends in \b (else in \w*)
};

}  // namespace vorlane::extract
