// The JSON value of an external action's "args", as the host's standard
// serializer (json.dumps with its default settings) sees it.
#pragma once

#include <Python.h>

#include "json/json_text.hpp"
#include "verify_call_state.hpp"

namespace vorlane::py {

// The JSON value of `root`; returns a fault index (the error json.dumps()
// would raise, recorded in `st`) or -1.  Host code run meanwhile (a
// mapping's items()) may change the containers still to be written: what
// they hold when reached is written, and nothing is read through a
// reference that such code could have freed.
int32_t to_json(PyObject* root, json::Value& out, CallState& st);

}  // namespace vorlane::py
