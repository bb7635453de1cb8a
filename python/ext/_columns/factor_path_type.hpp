#pragma once
// A universe's factor path, drawn once and shared read-only by the runs of its
// assets (each run holds a reference, so the path outlives the Python object).
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>

#include "synth/columns.hpp"

namespace synth::columns {

// Creates the FactorPath type and adds it to the module; false with an
// exception set.
bool init_factor_path_type(PyObject* module);

// The path held by a FactorPath object; nullptr with TypeError set for any
// other object.
std::shared_ptr<const generate::FactorPath> factor_path_of(PyObject* object);

}  // namespace synth::columns
