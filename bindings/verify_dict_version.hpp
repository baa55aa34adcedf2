// Telling whether a dict has changed since it was last seen, on every
// supported interpreter.
//
// The kept conversions of run-log lists are reused only while each element
// dict is unchanged.  Python 3.11 bumps a per-dict version tag on every
// change; 3.12 deprecates that tag, so there the same number comes from a
// dict watcher (PyDict_AddWatcher): the first time a dict is asked about it
// is watched and given a fresh number, and every later change to it (an
// item added, replaced or deleted, a clear, an update from another dict)
// gives it a new one before the change lands.  Called with the GIL held.
#pragma once

#include <Python.h>

#include <cstdint>

namespace vorlane::py {

// A number that differs from every earlier answer for `d` once `d` has
// changed.  `d` must be a dict.
std::uint64_t dict_version(PyObject* d);

// False when no such number can be had (every dict watcher slot of the
// interpreter taken): then conversions are not kept.
bool dict_versions_available();

}  // namespace vorlane::py
