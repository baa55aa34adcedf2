// The views of a run log that the verdict rules search: what the turn wrote,
// what its reads returned, every output, the JSON texts of its external
// actions; and the rules about commands (success, successful command texts,
// the empty-search test).
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "verify/match.hpp"
#include "verify/runlog.hpp"

namespace vorlane::verify {

struct Views {
  TextList writes;     // "payload" of every event that wrote
  TextList read_outs;  // "output" of every read
  TextList all_outs;   // "output" of every event
  TextList ext_args;   // JSON text of every external action's "args"
  std::vector<std::shared_ptr<const LogText>> owned;  // the JSON texts
};

// Builds the four views in their order, raising the log's faults as the
// reads reach them.
Views build_views(const RunLog& log);

// The read rule for one event.
bool is_read(const Event& e, const RunLog& log);

// The text of a field that a pattern is applied to; fails for a null or any
// other non-text value.
const LogText& require_text(const TextField& f, const char* what, const RunLog& log);

// Success of a command record (fails when its exit code cannot be read).
bool succeeded(const Command& c, const RunLog& log);

// The commands of the log, checked for traversal.
const std::vector<Command>& commands(const RunLog& log);

// "command" of every successful command record, in log order.
TextList ok_command_texts(const RunLog& log);

// Some command names a search tool and printed nothing but white space.
bool empty_search(const RunLog& log);

}  // namespace vorlane::verify
