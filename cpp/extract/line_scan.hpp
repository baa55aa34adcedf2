// The segmenter's small patterns, written out by hand: each function gives
// exactly what the pattern in its comment gives under Python's `re`, in one
// pass without the engine's per-call cost.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "text/interrupt.hpp"

namespace vorlane::extract::scan {

// re.sub(r"```.*?```", " ", text, flags=re.S)
std::string strip_fences(std::string_view text);

// True when strip_fences would change `text` (it holds a fenced block).
bool has_fence(std::string_view text);

// re.match(r"^\|?\s*:?-{2,}", s) is not None
bool table_rule(std::string_view s);

// re.match(r"^(\d+[.)]|[-*•]|\[[ x]\])\s+", s): the end of the match, or 0.
std::size_t list_marker_end(std::string_view s);

// re.match(r"^[-: ]+$", s) is not None, for `s` without a line feed.
bool rule_cell(std::string_view s);

// re.sub(r"\*\*(.+?)\*\*", r"\1", s)
std::string unbold(std::string_view s);

// re.match(r"^\s*[✔✅⚠️❌🟠◌]+\s*", s): the end of the match, or 0.
std::size_t status_end(std::string_view s);

// re.split(r"(?<=[.!?])\s+(?=[A-Z`*\"'(\[])", s): calls f(piece) for every
// piece, in order, empty ones included.
template <class F>
void sentence_pieces(std::string_view s, F&& f);

// re.sub(r"\W+", " ", s).strip() for a text already lower-cased.
std::string collapse_non_word(std::string_view s);

// The near-duplicate key of a Unit: re.sub(r"\W+", " ", u.lower()).strip().
std::string duplicate_key(std::string_view u);
// The same into `out` (its storage reused).
void duplicate_key(std::string_view u, std::string& out);

// Where a sentence break starts and ends at or after `pos`: the white-space
// run [b, e).  False when there is none.  The text looked at is counted on
// `meter`.
bool next_sentence_break(std::string_view s, std::size_t pos, std::size_t& b, std::size_t& e,
                         interrupt::Meter& meter);

template <class F>
void sentence_pieces(std::string_view s, F&& f) {
  std::size_t last = 0, pos = 0, b, e;
  interrupt::Meter meter;
  while (next_sentence_break(s, pos, b, e, meter)) {
    f(s.substr(last, b - last));
    last = pos = e;
  }
  meter.flush();
  f(s.substr(last));
}

}  // namespace vorlane::extract::scan
