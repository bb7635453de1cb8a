#include "errors.hpp"

namespace synth::columns {
namespace {

PyObject* synth_error = nullptr;

}  // namespace

bool load_synth_error() {
    if (synth_error != nullptr) return true;
    PyObject* errors = PyImport_ImportModule("quarno_synth.errors");
    if (errors == nullptr) return false;
    synth_error = PyObject_GetAttrString(errors, "SynthError");
    Py_DECREF(errors);
    return synth_error != nullptr;
}

void raise_error(const spec::SynthError& error) {
    ext::raise_error(synth_error, error);
}

}  // namespace synth::columns
