// Reading JSON text into insertion-ordered values in time linear in the
// number of object members.
//
// nlohmann's ordered_json keeps members in a vector and looks each new key up
// by a linear scan, so parsing an object of n members takes time growing
// with n squared (a model answer of 160 000 keys took 20 s).  This reader
// drives the same parser through its event interface and finds repeated keys
// through a hash index per open object instead.
//
// The result equals ordered_json::parse of the same text: members in the
// order their names first appear, and a repeated name keeps its first
// position and takes its last value (as the host's JSON reader does).
#pragma once

#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace vorlane::json {

using ordered = nlohmann::ordered_json;

// How many parse events pass between two calls of the `tick` callback.
inline constexpr std::size_t READ_TICK_EVERY = 1024;

// Parses `text` (one JSON value, nothing after it but white space), strictly:
// a byte-order mark at the start and a raw NUL byte anywhere are errors.  On a
// syntax error returns nothing and, when `error` is given, stores the
// parser's message there.  `tick`, when given, is called every
// READ_TICK_EVERY parse events; an exception it throws ends the parse and
// propagates.
std::optional<ordered> read_ordered(std::string_view text, std::string* error = nullptr,
                                    const std::function<void()>& tick = {});

}  // namespace vorlane::json
