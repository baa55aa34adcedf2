// Pattern texts in Python `re` syntax: the one scanner that walks them
// (escapes, character classes, groups, alternatives) and what is built on
// it: the translation to PCRE2 syntax and the split into top-level
// alternatives.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane::pattern_text {

// One piece of a pattern text.
struct Token {
  enum Kind {
    Char,        // an ordinary character outside a class
    Escape,      // a backslash and the character after it (outside a class)
    ClassOpen,   // "[" with its "^" (if any)
    ClassChar,   // a character inside a class ("]" right after the opening included)
    ClassEscape, // a backslash escape inside a class
    ClassClose,  // the "]" that ends a class
    Open,        // "(" (depth: the depth inside it)
    Close,       // ")" (depth: the depth outside it)
    Bar,         // "|" (depth: the group depth it is at)
  };
  Kind kind;
  std::size_t pos, len;
  int depth;
};

[[noreturn]] void throw_trailing_backslash();

// Calls f(token) for each piece of `p`, left to right, until f returns
// false.  Throws PatternError for a trailing backslash.
template <class F>
void scan(std::string_view p, F&& f);

// The top-level alternatives of a pattern text.
std::vector<std::string_view> top_level_alternatives(std::string_view p);

// The PCRE2 text of a Python pattern text.  With `ascii_digits`, \d means
// [0-9] (the same on subjects without other decimal digits, and it keeps
// PCRE2's start-of-match optimisations).
std::string translate(std::string_view p, bool ascii_digits = false);

template <class F>
void scan(std::string_view p, F&& f) {
  int depth = 0;
  std::size_t i = 0, n = p.size();
  bool in_class = false;
  auto emit = [&](Token::Kind k, std::size_t len, int d) {
    bool go = f(Token{k, i, len, d});
    i += len;
    return go;
  };
  while (i < n) {
    char c = p[i];
    if (c == '\\') {
      if (i + 1 >= n) throw_trailing_backslash();
      if (!emit(in_class ? Token::ClassEscape : Token::Escape, 2, depth)) return;
      continue;
    }
    if (in_class) {
      if (c == ']') in_class = false;
      if (!emit(c == ']' ? Token::ClassClose : Token::ClassChar, 1, depth)) return;
      continue;
    }
    if (c == '[') {
      in_class = true;
      std::size_t len = (i + 1 < n && p[i + 1] == '^') ? 2 : 1;
      if (!emit(Token::ClassOpen, len, depth)) return;
      // A "]" right after the opening is an ordinary member.
      if (i < n && p[i] == ']' && !emit(Token::ClassChar, 1, depth)) return;
      continue;
    }
    bool go;
    if (c == '(') go = emit(Token::Open, 1, ++depth);
    else if (c == ')') go = emit(Token::Close, 1, --depth);
    else if (c == '|') go = emit(Token::Bar, 1, depth);
    else go = emit(Token::Char, 1, depth);
    if (!go) return;
  }
}

}  // namespace vorlane::pattern_text
