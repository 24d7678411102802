// Image maps: one spectrum per grid position, stored either one record per
// position or transposed, one record per spectral point holding a whole image.
#pragma once

#include <cstdint>
#include <optional>

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
  std::int64_t records = 0;  // records that fill the cube
  std::optional<NumpyFailure> failure;
};

// Walks the records in order as the reader does and stops at the first that
// fails: a seek error, a zero column count (Python's modulo by zero), or a
// numpy step (a row past the grid, a record whose values do not fit its row,
// an image of the wrong size, a spectral point past the cube). With neither
// layout nothing is read, but a record that no seek reaches still fails.
Result<MapPlan> plan_image_map(const RecordLocator& locator, const RecordOffsets& offsets, MapLayout layout,
                               const MapGrid& grid, const Limits& limits);

// After a successful plan: fills the float32 cube (rows, columns, points), zero
// where no record lands. The cube is uninitialised on entry.
Status fill_image_map(const RecordLocator& locator, const RecordOffsets& offsets, MapLayout layout,
                      const MapGrid& grid, const MapPlan& plan, float* cube);

// Record k holds `pixels` values; value p goes to dst[p * depth + k]. Records
// are read in batches into a bounce buffer and transposed in cache-sized tiles.
Status fill_transposed(const RecordLocator& locator, const RecordOffsets& offsets, std::int64_t pixels, float* dst,
                       std::int64_t depth);

}  // namespace kestrel
