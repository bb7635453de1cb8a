#pragma once
// The one-parameter calling convention shared by Synth() and Synth.command().
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace synth::python {

// Returns the single argument `param`, given by position or keyword, as a
// borrowed reference; or nullptr with a TypeError naming `function`.
PyObject* single_argument(PyObject* args, PyObject* kwargs, const char* function,
                          const char* param);

}  // namespace synth::python
