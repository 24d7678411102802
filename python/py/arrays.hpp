// numpy arrays made by the binding: axes and uninitialised result arrays.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "py/ref.hpp"

namespace kestrel::py {

// numpy.linspace(start, stop, num). Float and int arguments take a native path
// with numpy's own arithmetic (bit-identical); anything else calls numpy, so its
// errors are numpy's.
Ref linspace(PyObject* start, PyObject* stop, PyObject* num);

// A new C-ordered array of the given shape from numpy's own allocator,
// uninitialised: the caller fills every element or zeroes what it does not.
Ref empty_float32(std::initializer_list<std::int64_t> shape);
Ref empty_float64(std::initializer_list<std::int64_t> shape);

// numpy itself, bound at module exec.
void set_numpy_module(PyObject* numpy);
PyObject* numpy_module();

}  // namespace kestrel::py
