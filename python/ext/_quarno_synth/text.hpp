#pragma once
// Conversion between Python str and UTF-8 text.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>

#include "common/text.hpp"

namespace synth::python {

using ext::to_str;

// Views the UTF-8 form of a str (or str subclass) argument; the view lives as
// long as the object. On failure returns false with a TypeError or the
// interpreter's UnicodeEncodeError set, noted "while processing '<param>'".
bool utf8_argument(PyObject* arg, const char* param, std::string_view& out);

}  // namespace synth::python
