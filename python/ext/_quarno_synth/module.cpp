// The extension module: multi-phase initialisation with one execution step that
// publishes __version__ and the Synth class.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "common/module_objects.hpp"
#include "synth/synth.hpp"
#include "synth_type.hpp"
#include "text.hpp"

namespace synth::python {
namespace {

// Appends the name to the module's __all__ (created on first use) and sets the
// attribute. Does not steal `value`.
int add_name(PyObject* module, const char* name, PyObject* value) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        all = PyList_New(0);
        if (all == nullptr) return -1;
        if (PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_DECREF(all);
            return -1;
        }
    }
    PyObject* appended = PyObject_CallMethod(all, "append", "s", name);
    Py_DECREF(all);
    if (appended == nullptr) return -1;
    Py_DECREF(appended);
    return ext::add_object(module, name, value) ? 0 : -1;
}

int exec_module(PyObject* module) {
    if (!PyModule_Check(module)) {
        PyErr_SetString(PyExc_TypeError, "the execution step expects a module object");
        return -1;
    }
    PyObject* version = to_str(kVersion);
    if (version == nullptr) return -1;
    const int added = add_name(module, "__version__", version);
    Py_DECREF(version);
    if (added < 0) return -1;

    PyObject* type = synth_type();
    if (type == nullptr) return -1;
    const int added_type = add_name(module, "Synth", type);
    Py_DECREF(type);
    return added_type;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_quarno_synth",
    "The native module (`quarno_synth._quarno_synth`).",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace synth::python

PyMODINIT_FUNC PyInit__quarno_synth(void) {
    return PyModuleDef_Init(&synth::python::module_def);
}
