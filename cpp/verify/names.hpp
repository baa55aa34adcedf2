// The words that the verdict rules give a meaning to: the tool names of a
// run log's events, the claim kinds, and the verdict words.  The host
// bindings export these lists, so that a program built on the module names
// them from here rather than keeping copies.
#pragma once

#include <string_view>

#include "verify/runlog.hpp"

namespace vorlane::verify {

// Tools whose calls only read.
inline constexpr std::string_view READ_TOOLS[] = {"read_file", "search_files", "skill_view"};

// Tools whose events carry what was run: the command line of "terminal",
// the code of "execute_code".
inline constexpr std::string_view TERMINAL_TOOL = "terminal";
inline constexpr std::string_view EXECUTE_CODE_TOOL = "execute_code";
inline constexpr std::string_view COMMAND_TOOLS[] = {TERMINAL_TOOL, EXECUTE_CODE_TOOL};

// The part an event's tool plays in the read rule (exact, case-sensitive).
Event::Tool tool_kind(std::string_view name);

// The verdict words.
inline constexpr std::string_view VERIFIED = "verified";
inline constexpr std::string_view UNVERIFIED = "unverified";
inline constexpr std::string_view CONTRADICTED = "contradicted";
inline constexpr std::string_view UNCHECKED = "unchecked";
inline constexpr std::string_view PRE_EXISTING = "pre-existing";
inline constexpr std::string_view VERDICTS[] = {VERIFIED, UNVERIFIED, CONTRADICTED, UNCHECKED, PRE_EXISTING};

// The claim kinds that the rules single out.  A claim without a kind is of
// the kind DEFAULT_KIND; any other kind word is treated like none of these.
inline constexpr std::string_view COMMAND_RAN = "command_ran";
inline constexpr std::string_view FILE_CHANGED = "file_changed";
inline constexpr std::string_view MENTION_KINDS[] = {"other", "external_action", "mention"};
inline constexpr std::string_view DEFAULT_KIND = "other";

// What the rules need to know about the claim's kind.
struct ClaimKind {
  bool command_ran = false;   // COMMAND_RAN
  bool file_changed = false;  // FILE_CHANGED
  bool mention_kind = false;  // one of MENTION_KINDS
};

// The claim kind as the rules compare it: `equals(word)` says whether the
// claim's kind equals `word`.  Asked, in this order, for COMMAND_RAN,
// FILE_CHANGED, then each of MENTION_KINDS until one is equal; what
// `equals` throws passes through.
template <class Equals>
ClaimKind claim_kind_by(Equals&& equals) {
  ClaimKind k;
  k.command_ran = equals(COMMAND_RAN);
  k.file_changed = equals(FILE_CHANGED);
  for (std::string_view w : MENTION_KINDS) {
    if (equals(w)) {
      k.mention_kind = true;
      break;
    }
  }
  return k;
}

// The same for a kind given as a text.
ClaimKind claim_kind(std::string_view kind);

}  // namespace vorlane::verify
