#include "errors.hpp"

#include <string>

#include "text.hpp"

namespace synth::ext {

void raise_error(PyObject* type, const spec::SynthError& error) {
    if (error.kind == spec::SynthError::Kind::Memory) type = PyExc_MemoryError;
    const std::string text = error.render();
    PyObject* message = to_str(text);
    if (message == nullptr) return;
    PyErr_SetObject(type, message);
    Py_DECREF(message);
}

}  // namespace synth::ext
