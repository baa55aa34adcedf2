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

  // For a list that is not anchored: the leftmost match starting at or
  // after `pos`, as [begin, end).  Where several alternatives fit at one
  // start, the end is that of the one-character alternatives first, then of
  // the first listed; that is the engine's choice for lists without
  // one-character alternatives.  Throws std::logic_error for an anchored list.
  bool find(std::string_view s, std::size_t pos, std::size_t& begin, std::size_t& end) const;

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
  // The end of the first alternative that matches at p (a word start whose
  // folded first character is `first`), or npos.
  std::size_t any_at(std::string_view s, std::size_t p, char first) const;
  // any_at for an ASCII byte at s[i] that starts a word.
  std::size_t ascii_start(std::string_view s, std::size_t i) const;
  // The end of a match at the word start `at`, or npos.
  std::size_t at_start(std::string_view s, std::size_t at) const;
  // The first word start at or after `pos` where an alternative matches
  // (its end in `end`), or npos.
  std::size_t scan(std::string_view s, std::size_t pos, std::size_t& end) const;

  // Alternatives by first character (a-z, 0-9) and second (a-z, 0-9, or
  // 36 for any other).
  static constexpr int kSlots = 36;
  std::array<std::vector<Alt>, kSlots*(kSlots + 1)> by_start_;
  // By bucket: bit c set when an alternative allows the ASCII character c
  // third (every c for a two-character alternative).
  std::array<std::array<std::uint64_t, 2>, kSlots*(kSlots + 1)> third_{};
  // By two ASCII characters (lower case): their bucket plus one, 0 for an
  // empty bucket.
  std::array<std::uint16_t, 128 * 128> pair_{};
  std::vector<Alt> single_;    // one-character alternatives
  bool anchored_ = false;      // pattern starts with ^ (else \b)
  bool end_boundary_ = false;  // pattern ends in \b (else in \w*)
};

}  // namespace vorlane::extract
