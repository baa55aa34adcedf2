// Report segmentation and claim classification: report text -> Units,
// literal targets and kinds.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane::extract {

inline constexpr std::array<std::string_view, 8> ABBR = {
    "e.g.", "i.e.", "vs.", "etc.", "approx.", "cf.", "no.", "fig."};

inline constexpr std::array<std::string_view, 5> KINDS = {
    "file_changed", "command_ran", "result_observed", "external_action", "other"};

// Fenced code blocks replaced by one space each.
std::string strip_fences(std::string_view text);

// One paragraph cut into trimmed, non-empty sentences.
std::vector<std::string> sentences(std::string_view par);

// The same, each sentence given to `f` as a view into `par` (or into a
// working copy, for a paragraph with abbreviations or NUL) valid during the
// call.
void sentences(std::string_view par, const std::function<void(std::string_view)>& f);

// The report's Units, in order, without near-duplicates.
std::vector<std::string> split_units(std::string_view final_report);

// Trims surrounding white space and punctuation from a literal candidate.
std::string tidy(std::string_view x);

// The same, as a view into `x`.
std::string_view tidy_view(std::string_view x);

// The literal strings a Unit rests on.
std::vector<std::string> literal_targets(std::string_view unit);

// "command_ran", "file_changed" or nothing.
std::optional<std::string_view> strong_kind(std::string_view unit);

// Always one of KINDS.
std::string_view heuristic_kind(std::string_view unit);

// The two-line inspection record of one Unit (bullet, Unit, targets in
// Python list form, heuristic kind), ending with a line feed.
std::string inspection_record(std::string_view unit);

// `s` written the way Python's repr() writes a str.
std::string python_repr(std::string_view s);

}  // namespace vorlane::extract
