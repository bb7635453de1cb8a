#pragma once
// A generation run driven from Python batch by batch.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace synth::columns {

// Creates the Run type and adds it to the module; false with an exception set.
bool init_run_type(PyObject* module);

}  // namespace synth::columns
