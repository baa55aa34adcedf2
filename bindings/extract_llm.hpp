// Python bindings of the model path of the extract module: classify_units,
// extract_claims, the model settings and the model error classes.
#pragma once

#include <nanobind/nanobind.h>

#include <string>
#include <vector>

#include "extract/classify.hpp"

// Registers on `m`: classify_units, extract_claims, CLASSIFY_PROMPT,
// LLM_URL, LLM_MODEL (from VESKARD_LLM_URL / VESKARD_LLM_MODEL, read now),
// the limits _TIMEOUT, _DEADLINE and _MAX_REPLY_BYTES with set_model_limits
// (and _set_timeout), masked_url, cancel_model_requests, the exception
// classes ModelEndpointError, ModelHTTPError, ModelTimeoutError and
// ModelReplyTooLargeError, and the private testing functions.
void bind_llm(nanobind::module_& m);

// The Units argument: a sequence of str, or TypeError.
std::vector<std::string> units_arg(nanobind::handle o);

// One {"kind", "model_targets"} dict per record.
nanobind::list records_list(const std::vector<vorlane::extract::UnitRecord>& recs);
