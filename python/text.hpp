#pragma once
// Conversion between Python str and UTF-8 text.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>

namespace synth::python {

// Views the UTF-8 form of a str (or str subclass) argument; the view lives as
// long as the object. On failure returns false with a TypeError or the
// interpreter's UnicodeEncodeError set, noted "while processing '<param>'".
bool utf8_argument(PyObject* arg, const char* param, std::string_view& out);

// A new str from UTF-8 text, in one conversion.
PyObject* to_str(std::string_view text);

}  // namespace synth::python
