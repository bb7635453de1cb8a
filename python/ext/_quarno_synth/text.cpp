#include "text.hpp"

namespace synth::python {
namespace {

// Calls exc.add_note(note); keeps any error of its own from hiding the original.
void add_note(PyObject* exc, const char* param) {
    PyObject* note = PyUnicode_FromFormat("while processing '%s'", param);
    if (note == nullptr) return;
    PyObject* done = PyObject_CallMethod(exc, "add_note", "O", note);
    Py_DECREF(note);
    if (done == nullptr) {
        PyErr_Clear();
    } else {
        Py_DECREF(done);
    }
}

// Re-raises the pending exception with the note attached.
void note_pending(const char* param) {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr) {
        if (traceback != nullptr) PyException_SetTraceback(value, traceback);
        add_note(value, param);
    }
    PyErr_Restore(type, value, traceback);
}

void raise_not_str(PyObject* arg) {
    if (arg == Py_None) {
        PyErr_SetString(PyExc_TypeError, "'None' is not an instance of 'str'");
        return;
    }
    PyObject* qualname = PyType_GetQualName(Py_TYPE(arg));
    if (qualname == nullptr) return;
    PyObject* message = PyUnicode_FromFormat("'%U' object is not an instance of 'str'", qualname);
    Py_DECREF(qualname);
    if (message == nullptr) return;
    PyErr_SetObject(PyExc_TypeError, message);
    Py_DECREF(message);
}

}  // namespace

bool utf8_argument(PyObject* arg, const char* param, std::string_view& out) {
    if (!PyUnicode_Check(arg)) {
        raise_not_str(arg);
        note_pending(param);
        return false;
    }
    if (!ext::utf8_view(arg, out)) {
        note_pending(param);
        return false;
    }
    return true;
}

}  // namespace synth::python
