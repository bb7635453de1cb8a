#pragma once
// How the columnar module reports failures: spec and run errors as the
// package's SynthError, memory as MemoryError, C++ exceptions never escape.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#include <stdexcept>

#include "spec/error.hpp"

namespace synth::columns {

// Looks up quarno_synth.errors.SynthError once, at module execution.
bool load_synth_error();

// Sets SynthError (or MemoryError for a memory error) with the rendered text.
void raise_error(const spec::SynthError& error);

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

}  // namespace synth::columns
