// A step of a 3D reader that fails inside numpy (an index past the grid, a
// record too short for its row, a reshape of the wrong size, stacking rows of
// different lengths). The native reader stops at the first record that would
// fail and describes the step; the binding repeats that one step with numpy so
// numpy raises its own error.
#pragma once

#include <cstdint>

namespace kestrel {

struct NumpyFailure {
  enum class Step {
    index_row,        // cube[row] with row >= rows                      (IndexError)
    assign_row,       // cube[row][column][:] = `values` values           (broadcast ValueError)
    assign_point,     // rows[row][:] = `values` values                    (broadcast ValueError)
    reshape,          // `values` values reshaped to (rows, columns)      (ValueError)
    index_point,      // cube[..., point] with point >= points           (IndexError)
    stack_mismatch,   // rows of `first_values` and `values` values stacked (ValueError)
    stack_empty,      // stacking no rows at all                          (ValueError)
  };
  Step step;
  std::int64_t record = 0;        // the record (or stacked row) at which it fails
  std::int64_t values = 0;        // the values that record delivered
  std::int64_t first_values = 0;  // stack_mismatch: the values of row 0
  std::int64_t row = 0;
  std::int64_t column = 0;
};

}  // namespace kestrel
