#pragma once
// Raising a core error value in Python, shared by both modules: a memory error
// becomes MemoryError, any other error the module's own exception type
// (`_quarno_synth`: ValueError; `_columns`: the package's SynthError), with the
// rendered text as its message. C++ exceptions never reach the interpreter.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#include <stdexcept>

#include "spec/error.hpp"

namespace synth::ext {

// Sets `type` (or MemoryError for a memory error) with the rendered text.
void raise_error(PyObject* type, const spec::SynthError& error);

// Runs `body` (returning PyObject*), turning an allocation failure into
// MemoryError.
template <class Body>
PyObject* guarded(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::length_error&) {
        return PyErr_NoMemory();
    }
}

}  // namespace synth::ext
