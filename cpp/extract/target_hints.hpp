// Exact pre-tests for the literal-target patterns: each answers false only
// where its pattern cannot match, from the bytes around the separator every
// match needs, so the engine runs only on texts that may hold a match.
#pragma once

#include <string_view>

namespace vorlane::extract::hint {

// DATE_RE (\d{4}-\d{2}-\d{2}): two "-" between digits.
bool may_hold_date(std::string_view s);

// VERSION_RE (\d+(?:\.\d+){2,}): two "." between digits.
bool may_hold_version(std::string_view s);

// DIM_RE (\d+\s?[x×]\s?\d+): an "x" or "×" with a digit on each side, a
// white-space character between allowed.
bool may_hold_dimension(std::string_view s);

// TIME_RE: a ":", "/" or "-" between digits, or a month name written with
// a capital.
bool may_hold_time(std::string_view s);

}  // namespace vorlane::extract::hint
