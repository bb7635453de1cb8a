#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace synth::python {

// The Synth type, created on first use and kept for the life of the process;
// returns a new reference, or nullptr with an exception set.
PyObject* synth_type();

}  // namespace synth::python
