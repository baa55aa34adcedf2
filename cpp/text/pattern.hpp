// A compiled regular expression with the text semantics of Python's `re` on
// `str`, built on PCRE2 (UTF, JIT).
//
// Pattern texts are written in Python's syntax and translated once, at
// construction: `\s` becomes the exact str.isspace() set, `\w`/`\b` are spelled
// out over letters, numbers and "_", `\d` is \p{Nd}.  Subjects are UTF-8 (lone
// surrogates allowed, see utf8.hpp); every position reported here is a byte
// offset into the subject, always on a code point boundary.
//
// A pattern is compiled for one way of use, chosen by its Mode:
//   Search     - leftmost match anywhere (re.search, finditer, sub, split)
//   Match      - anchored at the start offset (re.match)
//   FullMatch  - anchored at both ends (re.fullmatch)
//
// Matching never silently fails: a JIT stack overflow is retried with the
// interpreter, and any other engine error (match or depth limit, bad UTF)
// throws PatternError.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane {

class PatternError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One match: whole span and the spans of the capturing groups (npos when the
// group did not take part).
struct Match {
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
  static constexpr int kMaxGroups = 9;
  std::size_t begin = 0, end = 0;
  int groups = 0;
  std::size_t group_begin[kMaxGroups], group_end[kMaxGroups];  // index 0 is group 1

  std::string_view text(std::string_view subject) const {
    return subject.substr(begin, end - begin);
  }
  std::string_view group(std::string_view subject, int g) const {
    if (g == 0) return text(subject);
    if (g > groups) return {};
    std::size_t b = group_begin[g - 1];
    if (b == npos) return {};
    return subject.substr(b, group_end[g - 1] - b);
  }
};

class Pattern {
 public:
  enum Flags : unsigned { NONE = 0, IGNORECASE = 1, DOTALL = 2, MULTILINE = 4 };
  enum class Mode { Search, Match, FullMatch };

  explicit Pattern(std::string_view python_source, unsigned flags = NONE,
                   Mode mode = Mode::Search);
  ~Pattern();
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;

  // The pattern text as written (Python syntax), and its flags.
  const std::string& source() const { return source_; }
  unsigned flags() const { return flags_; }
  Mode mode() const { return mode_; }

  // First match at or after byte offset `start` (for Match/FullMatch modes:
  // a match that starts exactly at `start`).  Lookbehind may see bytes before
  // `start`.
  bool search(std::string_view s, Match* m = nullptr, std::size_t start = 0) const;

  // True when there is any match (no capture work).
  bool test(std::string_view s) const;

  // All non-overlapping matches, left to right (Python's finditer rules for
  // empty matches).  The callback returns false to stop early.
  void for_each(std::string_view s, const std::function<bool(const Match&)>& f) const;
  std::vector<Match> find_all(std::string_view s) const;

  // re.sub(pattern, repl, s) where `repl` is a literal text, optionally
  // holding the group reference "\1".."\9" (set `expand_groups`).
  std::string sub(std::string_view s, std::string_view repl, bool expand_groups = false) const;

  // re.split(pattern, s) for a pattern without capturing groups: the pieces
  // between matches, empty ones included.
  std::vector<std::string_view> split(std::string_view s) const;

 private:
  struct Impl;
  Impl* impl_;
  std::string source_;
  unsigned flags_;
  Mode mode_;
};

// While a TrustScope that accepted its input lives on this thread, every
// subject given to a Pattern is taken as well-formed UTF-8 without encoded
// surrogates, and matching skips the per-call check (a full pass over the
// subject) and the surrogate scan.  Open one where an input is first seen;
// texts cut from it on character boundaries, or joined from such pieces and
// other well-formed text, keep the property.  Scopes nest: an inner scope
// is for text taken from the outer one's input.
class TrustScope {
 public:
  // Trusts subjects when `input` qualifies (or an enclosing scope already
  // does); otherwise changes nothing.
  explicit TrustScope(std::string_view input);
  // For an input the caller knows to be well-formed UTF-8 without encoded
  // surrogates (a host's own strict encoding of its text): trusted without
  // the check.
  struct WellFormed {};
  TrustScope(std::string_view input, WellFormed);
  ~TrustScope();
  TrustScope(const TrustScope&) = delete;
  TrustScope& operator=(const TrustScope&) = delete;

  // True when the input holds no decimal digit outside ASCII (found out on
  // the first question, then kept).
  bool ascii_digits() const;

 private:
  std::string_view input_;
  bool owner_;                    // this scope accepted its input (and no outer one did)
  mutable int ascii_digits_ = -1;  // unknown yet
};

// Name, pattern text (Python `re` syntax) and `re` flags (re.I = 2, re.M = 8,
// re.S = 16) of a module's public pattern constant, for the host bindings.
struct PatternInfo {
  const char* name;
  std::string_view source;
  int re_flags;
};

// Translates a Python `re` pattern text into PCRE2 syntax with the same
// meaning (exposed for tests).
std::string translate_pattern(std::string_view python_source);

}  // namespace vorlane
