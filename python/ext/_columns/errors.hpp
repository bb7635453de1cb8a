#pragma once
// How the columnar module reports failures: spec and run errors as the
// package's SynthError, memory as MemoryError, C++ exceptions never escape.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "common/errors.hpp"
#include "spec/error.hpp"

namespace synth::columns {

using ext::guarded;

// Looks up quarno_synth.errors.SynthError once, at module execution. This
// module raises the package's error type itself (batches fail inside loops the
// package does not wrap), so it imports quarno_synth.errors, a module with no
// imports of its own from the package.
bool load_synth_error();

// Sets SynthError (or MemoryError for a memory error) with the rendered text.
void raise_error(const spec::SynthError& error);

}  // namespace synth::columns
