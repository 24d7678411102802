// The functions of kestrel_tools._native, one source file each; the table that
// lists them is in native_functions.cpp.
#pragma once

#include "py/python_api.hpp"

namespace kestrel::py {

// The module's method table, ending in a sentinel.
PyMethodDef* native_methods();

// fill_spectra.cpp: single spectra of many files into rows of one matrix.
PyObject* fill_spectra(PyObject* self, PyObject* args);

}  // namespace kestrel::py
