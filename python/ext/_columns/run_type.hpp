#pragma once
// A generation run driven from Python batch by batch.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace synth::columns {

// Creates the Run type and adds it to the module; false with an exception set.
bool init_run_type(PyObject* module);

// fill_runs(runs): every bar of each fresh Run (sharing one book depth), run
// after run, in one Batch; returns (batch, [(bars, trades, funding points)
// per run]).
PyObject* fill_runs(PyObject* module, PyObject* runs);

}  // namespace synth::columns
