// The functions of kestrel_tools._native, one source file each; the table that
// lists them, with their documentation, is in native_functions.cpp.
#pragma once

#include "py/python_api.hpp"
#include "py/ref.hpp"

namespace kestrel::py {

// Each raises by throwing (PyErrAlreadySet, CoreFailure); the method table
// turns that into the Python exception.

// plan(source, block, times=True) -> dict (plan_function.cpp).
Ref native_plan(PyObject* args, PyObject* kwargs);
// read_window(source, block, window, out, identity=None) -> None (read_window_function.cpp).
Ref native_read_window(PyObject* args, PyObject* kwargs);
// read_times(source, block, identity=None) (read_times_function.cpp).
Ref native_read_times(PyObject* args, PyObject* kwargs);
// parameters(source, block) -> dict (parameters_function.cpp).
Ref native_parameters(PyObject* args, PyObject* kwargs);

// directory(source) -> list of (role, block or None, offset, bytes) (directory_function.cpp).
Ref native_directory(PyObject* const* args, Py_ssize_t nargs);

// contents(source) -> list of block triples (contents_function.cpp).
Ref native_contents(PyObject* const* args, Py_ssize_t nargs);
// describe(source, block) -> (listing, block, parameters) (describe_function.cpp).
Ref native_describe(PyObject* args, PyObject* kwargs);

// The module's method table, ending in a sentinel.
PyMethodDef* native_methods();

// fill_spectra.cpp: single spectra of many files into rows of one matrix.
PyObject* fill_spectra(PyObject* self, PyObject* args);

}  // namespace kestrel::py
