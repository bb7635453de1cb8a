#pragma once
// Publishing objects on a module, the same way in both modules.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace synth::ext {

// Sets module.name = value without stealing `value` (PyModule_AddObjectRef, so
// the caller's reference is released the same way on success and failure);
// false with an exception set.
bool add_object(PyObject* module, const char* name, PyObject* value);

}  // namespace synth::ext
