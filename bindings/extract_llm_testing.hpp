// Private functions of the model path, for the tests: the request body and
// the merge of a model answer, without any HTTP exchange.
#pragma once

#include <nanobind/nanobind.h>

// Registers on `m`: _request_body(units, model) -> str and
// _merge_classification(units, answer) -> list of {"kind", "model_targets"}.
void bind_llm_testing(nanobind::module_& m);
