#pragma once
// Conversion between Python str and UTF-8 text, shared by both modules. Each
// module words its own type errors; this file only converts.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>

namespace synth::ext {

// Views the UTF-8 form of `str`, which must be a str (or subclass); the view
// lives as long as the object. False with the interpreter's
// UnicodeEncodeError (lone surrogates) set.
bool utf8_view(PyObject* str, std::string_view& out);

// A new str from UTF-8 text, in one conversion.
PyObject* to_str(std::string_view text);

}  // namespace synth::ext
