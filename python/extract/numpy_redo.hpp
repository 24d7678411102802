// Repeats, with numpy, the one step at which a native 3D reader stopped, so
// that numpy raises its own error with its own message.
#pragma once

#include "extract/numpy_failure.hpp"
#include "py/ref.hpp"

namespace kestrel::py {

struct RedoShape {
  PyObject* cube = nullptr;     // the result array being filled (index and assign steps)
  PyObject* rows = nullptr;     // reshape: the (rows, columns) the records are reshaped to
  PyObject* columns = nullptr;
  const char* stack = "vstack"; // the numpy function that stacks the records
};

// Always throws PyErrAlreadySet (with numpy's error set).
[[noreturn]] void raise_numpy_failure(const NumpyFailure& failure, const RedoShape& shape);

}  // namespace kestrel::py
