#include "verify/names.hpp"

namespace vorlane::verify {

Event::Tool tool_kind(std::string_view name) {
  for (std::string_view t : READ_TOOLS)
    if (name == t) return Event::Tool::ReadTool;
  if (name == TERMINAL_TOOL) return Event::Tool::Terminal;
  if (name == EXECUTE_CODE_TOOL) return Event::Tool::ExecuteCode;
  return Event::Tool::Other;
}

ClaimKind claim_kind(std::string_view kind) {
  return claim_kind_by([kind](std::string_view w) { return kind == w; });
}

}  // namespace vorlane::verify
