// A fast existence test for the word-list patterns of the extract module:
// `\b(alt|alt|...)\b` or `\b(alt|alt|...)\w*`, or the same anchored at
// the start of the text (`^(alt|alt|...)\b`, or `^(alt|alt|...)` with
// nothing after), ignoring case, where each
// alternative is ASCII text (letters, digits, "'", "-", " "; a "?" makes the
// character before it optional) with an optional `\w*` or `\w+` tail.
//
// test() answers exactly what Pattern::test answers for the same pattern
// text (case compared by Unicode simple case folding, under which only
// U+212A KELVIN SIGN and U+017F LONG S fold onto ASCII letters), by looking
// up each word start in a table of the alternatives by their first two
// characters instead of running the whole alternation at every position.
#pragma once

#include <array>
#include <cstdint>
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

  // For an anchored list: the end of a match at the start of `s` (of the
  // first alternative found, where several could match), or npos.
  std::size_t prefix_end(std::string_view s) const;

 private:
  enum class Tail { None, Star, Plus };
  struct Alt {
    std::string text;  // lower case
    Tail tail;
  };
  std::size_t match_end(std::string_view s, std::size_t p, const Alt& a) const;
  bool any_at(std::string_view s, std::size_t p, char first) const;
  // any_at for an ASCII byte at s[i] that starts a word.
  bool ascii_start(std::string_view s, std::size_t i) const;

  // Alternatives by first character (a-z, 0-9) and second (a-z, 0-9, or
  // 36 for any other).
  static constexpr int kSlots = 36;
  std::array<std::vector<Alt>, kSlots*(kSlots + 1)> by_start_;
  // By bucket: bit c set when an alternative allows the ASCII character c
  // third (every c for a two-character alternative).
  std::array<std::array<std::uint64_t, 2>, kSlots*(kSlots + 1)> third_{};
  std::vector<Alt> single_;    // one-character alternatives
  bool anchored_ = false;      // pattern starts with ^ (else \b)
  bool end_boundary_ = false;  // pattern ends in \b (else in \w*)
};

}  // namespace vorlane::extract
