// Literal targets of a claim: cleaning, cutting into atoms, kinds, and the
// normalisation that every compared text goes through.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "text/pattern.hpp"

namespace vorlane::verify {

// The verdict module's compiled patterns, built once on first use and shared
// by every call and thread (read-only after construction).
struct Patterns {
  // Module constants.
  Pattern NUM_RE, NEGATED_RE, ADDITIVE_RE, EMPTY_RE, PREDICATE_RE, READ_CODE_RE, SHELL_WRITE_RE;
  // Inline patterns.
  Pattern APPROX_RE;      // "≈"/"~" before a number
  Pattern LINE_REF_RE;    // ":12" or ":10-20" after a file extension, at the end
  Pattern WS_RUN_RE;      // a white-space run
  Pattern ATOM_TEST_RE;   // does the cleaned target hold a list separator?
  Pattern ATOM_SPLIT_RE;  // the separators that cut it
  Pattern LEAD_LETTER_RE; // one lower-case letter before a digit, at the start
  Pattern NUM_UNIT_RE;    // a number with a unit, whole piece
  Pattern PATH_EXT_RE;    // ".ext" at the end
  Pattern KEYVAL_RE;      // whole "key = value" (variants)
  Pattern CODE_SPAN_RE;   // `...`
  Pattern TERMINAL_READ_RE;  // a reading shell command, at the start
  Pattern SEARCH_TOOL_RE;    // grep / rg / find anywhere
  Patterns();
};

const Patterns& patterns();

// The module's public pattern constants, for the host bindings.
std::vector<PatternInfo> exported_patterns();

// A literal target with approximation signs, dashes, quotes, a trailing
// line reference and repeated white space tidied away.
std::string clean(std::string_view t);

// The atoms of one literal target, in order, duplicates kept.
std::vector<std::string> atoms(std::string_view t);

enum class LitKind { Path, Key, Number, Phrase };
LitKind kind_of(std::string_view lit);
const char* kind_name(LitKind k);

// The normalised form of `s` with `home` standing for "~": surrounding
// white space and quotes stripped, white-space runs as one space, lower case,
// commas of a bare number removed, an "x" after a final digit removed.
std::string norm(std::string_view s, std::string_view home);

// True when `s` is one or more digits or commas, optionally followed by "."
// and one or more digits (NUM_RE on a text without line feeds).
bool is_bare_number(std::string_view s);

// The match variants of a literal whose normalised form is `n` (distinct,
// each at least two characters long, in no particular order).
std::vector<std::string> variants_of_norm(const std::string& n);

// The significant words of a literal whose normalised form is `n`.
std::vector<std::string> tokens_of_norm(std::string_view n);

// True when `text` speaks of adding, creating, writing or enabling something
// without a negation just before it.
bool additive(std::string_view text);

}  // namespace vorlane::verify
