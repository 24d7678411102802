// Image maps: one spectrum per grid position, stored either one record per
// position or transposed, one record per spectral point holding a whole image.
#pragma once

#include <cstdint>
#include <optional>

#include "base/error.hpp"
#include "base/limits.hpp"
#include "base/result.hpp"
#include "extract/numpy_failure.hpp"
#include "extract/record_locator.hpp"

namespace kestrel {

enum class MapLayout {
  per_position,  // block size is 4 * NPT: record i is the spectrum at row i / NPX, column i % NPX
  transposed,    // stored blocks is NPT: record i is the image of spectral point i
  none,          // neither flag or both: nothing is read and the cube stays zero
};

MapLayout map_layout(const StoreTable3D& table, std::int64_t npt);

struct MapGrid {
  std::int64_t columns = 0;  // NPX
  std::int64_t rows = 0;     // NPY
  std::int64_t points = 0;   // NPT
};

struct MapPlan {
  std::int64_t records = 0;  // records that fill the cube, all of them before the one that fails
  std::optional<NumpyFailure> failure;  // a numpy step fails at record failed_at
  std::optional<Error> error;           // or the core's error does
  std::int64_t failed_at = -1;          // -1: it fails before any record is placed
};

// Walks the records in order as the reader does and stops at the first that
// fails: a seek error, a zero column count (Python's modulo by zero), or a
// numpy step (a row past the grid, a record whose values do not fit its row,
// an image of the wrong size, a spectral point past the cube). With neither
// layout nothing is read, but a record that no seek reaches still fails.
MapPlan plan_image_map(const RecordLocator& locator, const RecordOffsets& offsets, MapLayout layout,
                       const MapGrid& grid, const Limits& limits);

}  // namespace kestrel
