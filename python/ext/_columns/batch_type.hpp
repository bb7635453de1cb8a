#pragma once
// A batch of bars handed to Python: its columns as buffers that numpy and
// Arrow wrap without a copy, and its tables as CSV rows.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>

#include "synth/columns.hpp"

namespace synth::columns {

// Creates the Batch and ColumnBuffer types; false with an exception set.
bool init_batch_types(PyObject* module);

// A new Batch object taking over `batch`; nullptr with an exception set.
PyObject* new_batch(generate::ColumnBatch&& batch);

}  // namespace synth::columns
