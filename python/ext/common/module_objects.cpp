#include "module_objects.hpp"

namespace synth::ext {

bool add_object(PyObject* module, const char* name, PyObject* value) {
    return PyModule_AddObjectRef(module, name, value) == 0;
}

}  // namespace synth::ext
