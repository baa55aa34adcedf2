// The caller's run-log mapping -> the verdict core's run log.
//
// Everything that reads a Python value of the log runs here, with the GIL
// held: key lookups, truth values, comparisons of exit codes, str() of a
// failed one, the JSON values of action arguments.  What each value means
// to the rules (which tools read, which exit codes succeed) is decided by
// the core; this only asks the host the questions the core's rules ask.
#pragma once

#include <Python.h>

#include <cstddef>

#include "verify_call_state.hpp"

namespace vorlane::py {

// Converts the run-log mapping `L` (a dict) into st.log.
void convert_log(PyObject* L, CallState& st);

// Drops every kept conversion (for tests and tools).
void clear_snapshots();
std::size_t snapshot_count();

}  // namespace vorlane::py
