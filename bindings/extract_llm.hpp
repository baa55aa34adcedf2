// Python bindings of the model path of the extract module: classify_units,
// extract_claims, the model settings and the model error classes.
#pragma once

#include <nanobind/nanobind.h>

// Registers on `m`: classify_units, extract_claims, CLASSIFY_PROMPT,
// LLM_URL, LLM_MODEL (from VESKARD_LLM_URL / VESKARD_LLM_MODEL, read now),
// _TIMEOUT with _set_timeout, and the exception classes ModelEndpointError,
// ModelHTTPError and ModelTimeoutError.
void bind_llm(nanobind::module_& m);
