// Linear-time finders for the literal patterns whose backtracking form is
// quadratic on long tokens.
//
// PATH_RE's third alternative and KEYVAL_RE start with \b[\w.-]+, which a
// backtracking engine retries from every word boundary inside a long run of
// [\w.-] (minified code, dotted names, progress dots), each try running to the
// end of the run.  Both finders here give exactly the matches of the pattern
// (same leftmost-first choice, same spans) but look at each run once: the
// part after the run decides alone whether any start inside it can match.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "text/interrupt.hpp"
#include "text/pattern.hpp"

namespace vorlane::extract {

// A leftmost-match finder: the first match starting at or after `pos`.
// Matches are never empty.
class Finder {
 public:
  virtual ~Finder() = default;
  virtual bool find(std::string_view s, std::size_t pos, Match& m) = 0;

  bool test(std::string_view s) {
    Match m;
    return find(s, 0, m);
  }

  // Every non-overlapping match, left to right; `f` returns false to stop.
  template <class F>
  void for_each(std::string_view s, F&& f) {
    Match m;
    std::size_t pos = 0;
    while (pos < s.size() && find(s, pos, m)) {
      interrupt::tick(m.end - pos);
      if (!f(m)) return;
      pos = m.end;
    }
  }

  // Every match replaced by `repl`.
  std::string sub(std::string_view s, std::string_view repl);
};

// PATH_RE: the prefixed and slashed alternatives through the engine, the
// dotted file-name alternative by a run scan.  Holds the last answer of each
// part, so a left-to-right walk never searches the same text twice: use one
// PathFinder for one text.
class PathFinder final : public Finder {
 public:
  bool find(std::string_view s, std::size_t pos, Match& m) override;

 private:
  // The leftmost match at or after `from` (valid for every later start up
  // to the match's own).
  struct Cached {
    bool valid = false, found = false;
    std::size_t from = 0;
    Match m;
    bool covers(std::size_t pos) const { return valid && from <= pos && (!found || m.begin >= pos); }
  };
  Cached head_, dotted_;
};

// CODE_RE (`([^`\n]+)`), from the backticks alone: a span opens at a
// backtick and closes at the next one, with something but no line feed
// between.  Group 1 is the span's content.
class CodeSpanFinder final : public Finder {
 public:
  bool find(std::string_view s, std::size_t pos, Match& m) override;
};

// KEYVAL_RE, by a run scan.
class KeyvalFinder final : public Finder {
 public:
  bool find(std::string_view s, std::size_t pos, Match& m) override;
};

// NUM_RE.test(s) || VERSION_RE.test(s), from the runs of decimal digits:
// each run is looked at from its start with the few ways the patterns can
// go on after it, and a chain of ",ddd" groups that failed is not walked
// again from a later run inside it.
bool has_number_or_version(std::string_view s);

// NUM_RE.test(s), the same way.
bool has_number(std::string_view s);

// NEGATED_RE.test(unit.substr(0, end)), looking only at the few words
// before `end`.
bool negated_before(std::string_view unit, std::size_t end);

}  // namespace vorlane::extract
