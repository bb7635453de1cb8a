#include "errors.hpp"

#include <string>

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
    PyObject* type = error.kind == spec::SynthError::Kind::Memory ? PyExc_MemoryError : synth_error;
    const std::string text = error.render();
    PyObject* message =
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (message == nullptr) return;
    PyErr_SetObject(type, message);
    Py_DECREF(message);
}

}  // namespace synth::columns
