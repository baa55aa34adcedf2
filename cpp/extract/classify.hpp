// Model-assisted classification of Units: one chat-completions request for
// all Units of a report, merged with the word heuristics.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "extract/interrupt_poll.hpp"

namespace vorlane::extract {

// The instructions sent ahead of the numbered Units: four lines, each ended
// by a line feed, and one more line feed.
inline constexpr std::string_view CLASSIFY_PROMPT =
    "Each numbered line is one sentence from an AI agent's final report. For each, give:\n"
    "- kind: file_changed (agent says it edited/created/removed a file or setting) | "
    "command_ran (agent says it executed a command/test/build) | "
    "result_observed (agent reports a value, output or state it saw) | "
    "external_action (cron, message, skill, brain, browser, delegation) | "
    "other (explanation, opinion, plan)\n"
    "- targets: extra ATOMIC literals from THAT sentence that the claim rests on and that "
    "would appear verbatim in a terminal or file (a path, a key=value, a number, an exact "
    "short string). Copy them exactly as written in the sentence. Empty list if none.\n"
    "Return JSON: {\"units\": {\"<n>\": {\"kind\": \"...\", \"targets\": [\"...\"]}, ...}}\n"
    "\n";

inline constexpr std::string_view DEFAULT_LLM_URL = "http://127.0.0.1:8000/v1/chat/completions";
inline constexpr std::string_view DEFAULT_LLM_MODEL = "qwen3.8-flash-next";
inline constexpr double DEFAULT_TIMEOUT_S = 300.0;
inline constexpr double DEFAULT_DEADLINE_S = 300.0;
// Far above any real reply (a report of a thousand claims gets one of a few
// hundred kilobytes), low enough that even a reply made to cost the most
// memory (a string of targets walked character by character) stays within a
// few hundred megabytes.
inline constexpr std::size_t DEFAULT_MAX_REPLY_BYTES = std::size_t(16) << 20;

// Where and how the model is asked.
struct ModelSettings {
  std::string url{DEFAULT_LLM_URL};
  std::string model{DEFAULT_LLM_MODEL};
  // Bound on connecting and on every wait for the connection, in seconds.
  double timeout_s = DEFAULT_TIMEOUT_S;
  // Bound on the whole request, from sending to the last byte of the reply.
  double deadline_s = DEFAULT_DEADLINE_S;
  // Largest reply body read.
  std::size_t max_reply_bytes = DEFAULT_MAX_REPLY_BYTES;
  // Asked every few milliseconds while the request is in flight and while
  // the reply is read and merged; returning true abandons the call with
  // Interrupted.  Empty: never interrupted.
  InterruptCheck interrupted;
};

// VESKARD_LLM_URL and VESKARD_LLM_MODEL from the process environment (a
// variable that is set counts even when empty), defaults otherwise.
ModelSettings settings_from_env();

// The kind and the accepted model targets of one Unit.
struct UnitRecord {
  std::string kind;
  std::vector<std::string> model_targets;
};

// "1. <unit 0>\n2. <unit 1>..." with no line feed after the last line.
std::string numbered_lines(const std::vector<std::string>& units);

// The exact request body (pure ASCII JSON text).
std::string request_body(const std::vector<std::string>& units, std::string_view model);

// The JSON text of a response body as UTF-8: a UTF-8 byte-order mark is
// dropped, UTF-16 and UTF-32 bodies (told by their byte-order mark or by the
// pattern of zero bytes at the start) are converted.  Throws ReplyError
// (Value) for a body that cannot be decoded.
std::string decode_body(std::string_view bytes);

// The model's answer, reply["choices"][0]["message"]["content"], from a
// response body.  Throws ReplyError naming what is missing or wrong, or
// Interrupted when `interrupted` says stop.  Time and memory grow linearly
// with the size of the body, whatever its shape.
std::string answer_of(std::string_view body, const InterruptCheck& interrupted = {});

// The answer without surrounding white space and without Markdown fence
// markers at line starts and line ends.
std::string clean_answer(std::string_view answer);

// Merges the model's answer with the heuristics, one record per Unit.  An
// answer that is not valid JSON counts as empty; an answer of the wrong
// shape throws ReplyError.  Linear in the size of the answer (however many
// keys it has) plus the work on the Units; `interrupted` as for answer_of.
std::vector<UnitRecord> merge_answer(const std::vector<std::string>& units, std::string_view answer,
                                     const InterruptCheck& interrupted = {});

// The whole exchange: request, reply, merge.  Throws the errors of
// http_post_json, ReplyError and Interrupted.
std::vector<UnitRecord> classify_units(const std::vector<std::string>& units,
                                       const ModelSettings& settings);

}  // namespace vorlane::extract
