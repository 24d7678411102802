// Repeats, with numpy, the one step at which a native reader stopped, so that
// numpy raises its own error with its own message.
#pragma once

#include <array>
#include <cstdint>

#include "extract/numpy_failure.hpp"
#include "py/ref.hpp"

namespace kestrel::py {

struct RedoShape {
  std::array<std::int64_t, 3> cube{};  // the shape of the array indexed (index steps)
  int ndim = 3;
  std::int64_t row_length = 0;          // the length of the row assigned to (assign steps)
  PyObject* rows = nullptr;             // reshape: the (rows, columns) the records are reshaped to
  PyObject* columns = nullptr;
  const char* stack = "vstack";         // the numpy function that stacks the records
};

// Always throws PyErrAlreadySet (with numpy's error set).
[[noreturn]] void raise_numpy_failure(const NumpyFailure& failure, const RedoShape& shape);

// Always throws PyErrAlreadySet: the step was expected to raise and did not.
[[noreturn]] void raise_step_succeeded();

}  // namespace kestrel::py
