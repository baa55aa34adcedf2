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
#include <vector>

namespace vorlane::json {

using ordered = nlohmann::ordered_json;

// One step on the way from the root to a value: a member name of an object,
// or an item position of an array.
struct ReadStep {
  bool member;            // true: `name` of an object; false: `index` of an array
  std::string_view name;  // valid during the filter call only
  std::size_t index;
};

// What the reader does with a value.
enum class ReadTake {
  Keep,  // store it (a container: with what the filter keeps of its content)
  Stub,  // store null in its place, read nothing of its content
  Drop,  // store nothing (an object member: not even its name)
};

// Decides about each value below the root (which is always kept) from the
// steps that lead to it, the last one its own, and its type.  Keeping only
// the parts a caller reads bounds the memory a large document costs.  An
// object member should be decided by its path alone, not its type, so that
// every value of a repeated name is treated alike (the last one kept wins).
using ReadFilter = std::function<ReadTake(const std::vector<ReadStep>& path, ordered::value_t type)>;

// How many parse events pass between two calls of the `tick` callback.
inline constexpr std::size_t READ_TICK_EVERY = 1024;

// Parses `text` (one JSON value, nothing after it but white space), strictly:
// a byte-order mark at the start and a raw NUL byte anywhere are errors.  On a
// syntax error returns nothing and, when `error` is given, stores the
// parser's message there.  `tick`, when given, is called every
// READ_TICK_EVERY parse events; an exception it throws ends the parse and
// propagates.  `filter`, when given, decides what is stored; the syntax of
// the whole text is checked either way.
std::optional<ordered> read_ordered(std::string_view text, std::string* error = nullptr,
                                    const std::function<void()>& tick = {}, const ReadFilter& filter = {});

}  // namespace vorlane::json
