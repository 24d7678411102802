// The functions of kestrel_tools._native, one source file each; the table that
// lists them, with their documentation, is in native_functions.cpp.
#pragma once

#include "io/byte_source.hpp"
#include "py/python_api.hpp"
#include "py/ref.hpp"

namespace kestrel::py {

// plan(path, block, times=True) -> dict (plan_function.cpp).
PyObject* native_plan(PyObject* self, PyObject* args, PyObject* kwargs);
// read_window(path, block, window, out, identity=None) -> None (read_window_function.cpp).
PyObject* native_read_window(PyObject* self, PyObject* args, PyObject* kwargs);
// read_times(path, block, identity=None) (read_times_function.cpp).
PyObject* native_read_times(PyObject* self, PyObject* args, PyObject* kwargs);
// parameters(path, block) -> dict (parameters_function.cpp).
PyObject* native_parameters(PyObject* self, PyObject* args, PyObject* kwargs);

// directory(path) -> list of (role, block or None, offset, bytes) (directory_function.cpp).
PyObject* native_directory(PyObject* self, PyObject* const* args, Py_ssize_t nargs);

// contents(source) -> list of block triples (contents_function.cpp).
PyObject* native_contents(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
// The listing of an opened source, with listContents' errors (contents_function.cpp).
Ref contents_of(const ByteSource& source);

// describe(source, block) -> (listing, block, parameters) (describe_function.cpp).
PyObject* native_describe(PyObject* self, PyObject* args, PyObject* kwargs);

// The module's method table, ending in a sentinel.
PyMethodDef* native_methods();

// fill_spectra.cpp: single spectra of many files into rows of one matrix.
PyObject* fill_spectra(PyObject* self, PyObject* args);

}  // namespace kestrel::py
