#include "arguments.hpp"

namespace synth::python {

PyObject* single_argument(PyObject* args, PyObject* kwargs, const char* function,
                          const char* param) {
    const Py_ssize_t given = PyTuple_Size(args);
    if (given < 0) return nullptr;
    if (given > 1) {
        PyErr_Format(PyExc_TypeError, "%s takes 1 positional arguments but %zd were given",
                     function, given);
        return nullptr;
    }
    PyObject* value = given == 1 ? PyTuple_GetItem(args, 0) : nullptr;

    if (kwargs != nullptr) {
        // Keywords are judged in the order they were passed; the first fault wins.
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* keyword_value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &keyword_value)) {
            const int matches =
                PyUnicode_Check(key) ? PyUnicode_CompareWithASCIIString(key, param) : -1;
            if (matches != 0) {
                PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'",
                             function, key);
                return nullptr;
            }
            if (value != nullptr) {
                PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", function,
                             param);
                return nullptr;
            }
            value = keyword_value;
        }
    }

    if (value == nullptr) {
        PyErr_Format(PyExc_TypeError, "%s missing 1 required positional argument: '%s'", function,
                     param);
    }
    return value;
}

}  // namespace synth::python
