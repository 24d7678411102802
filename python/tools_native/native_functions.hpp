// The functions of kestrel_tools._native, one source file each; the table that
// lists them is in native_functions.cpp.
#pragma once

#include "py/python_api.hpp"

namespace kestrel::py {

// plan(path, block) -> dict (plan_function.cpp).
PyObject* native_plan(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
// read_window(path, block, window, out) -> None (read_window_function.cpp).
PyObject* native_read_window(PyObject* self, PyObject* const* args, Py_ssize_t nargs);

// contents(source) -> list of block triples (contents_function.cpp).
PyObject* native_contents(PyObject* self, PyObject* const* args, Py_ssize_t nargs);

// The module's method table, ending in a sentinel.
PyMethodDef* native_methods();

// fill_spectra.cpp: single spectra of many files into rows of one matrix.
PyObject* fill_spectra(PyObject* self, PyObject* args);

}  // namespace kestrel::py
