#include "extract/image_map.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "extract/record_walk_limits.hpp"
#include "io/gather.hpp"

namespace kestrel {

MapLayout map_layout(const StoreTable3D& table, std::int64_t npt) {
  const bool image_blocks = std::int64_t{table.block_size} == 4 * npt;
  const bool transposed = std::int64_t{table.stored_blocks} == npt;
  if (image_blocks && !transposed) return MapLayout::per_position;
  if (transposed && !image_blocks) return MapLayout::transposed;
  return MapLayout::none;
}

namespace {

Result<MapPlan> plan_per_position(const RecordLocator& locator, const RecordOffsets& offsets, const MapGrid& grid,
                                  const Limits& limits) {
  MapPlan plan;
  for (RecordWalk walk(offsets); walk.next();) {
    const std::int64_t i = walk.index();
    KESTREL_CHECK(check_record_count(i, limits));
    KESTREL_TRY(const RecordValues v, locator.values(walk.offset(), grid.points));
    if (grid.columns == 0) return Error::zero_division("integer modulo by zero");
    const std::int64_t column = i % grid.columns;
    const std::int64_t row = i / grid.columns;
    if (row >= grid.rows) {
      plan.failure = NumpyFailure{NumpyFailure::Step::index_row, i, v.count, 0, row, column};
      return plan;
    }
    // A single value broadcasts over the whole row; any other short count does not fit.
    if (v.count != grid.points && v.count != 1) {
      plan.failure = NumpyFailure{NumpyFailure::Step::assign_row, i, v.count, 0, row, column};
      return plan;
    }
    plan.records = i + 1;
  }
  return plan;
}

Result<MapPlan> plan_transposed(const RecordLocator& locator, const RecordOffsets& offsets, const MapGrid& grid,
                                const Limits& limits) {
  MapPlan plan;
  const std::int64_t pixels = grid.rows * grid.columns;
  for (RecordWalk walk(offsets); walk.next();) {
    const std::int64_t i = walk.index();
    KESTREL_CHECK(check_record_count(i, limits));
    KESTREL_TRY(const RecordValues v, locator.values(walk.offset(), pixels));
    if (v.count != pixels) {
      plan.failure = NumpyFailure{NumpyFailure::Step::reshape, i, v.count, 0, grid.rows, grid.columns};
      return plan;
    }
    if (i >= grid.points) {
      plan.failure = NumpyFailure{NumpyFailure::Step::index_point, i, v.count};
      return plan;
    }
    plan.records = i + 1;
  }
  return plan;
}

// With neither layout (or both) nothing is read, but the reader still seeks to
// every record first, so a record no seek can reach fails all the same. The
// offsets a seek accepts form one interval (0 up to what the file system
// allows) and offsets move one way through a run, so the failing records of a
// run are a prefix or a suffix of it: O(log records) seeks per run, not one
// per record, and no bound on the record count is needed.
Status check_record_seeks(const RecordLocator& locator, const RecordOffsets& offsets) {
  auto seek = [&](WideOffset offset) { return locator.values(offset, 0); };
  for (const NumberedRun& numbered : offsets.runs()) {
    const RecordRun& run = numbered.records;
    if (auto first = seek(run.first_offset); !first) return std::move(first).error();
    if (seek(run.last_offset())) continue;
    std::int64_t fine = 0;             // a record the seek reaches
    std::int64_t fails = run.count - 1;  // a record it does not
    while (fails - fine > 1) {
      const std::int64_t mid = fine + (fails - fine) / 2;
      (seek(run.offset(mid)) ? fine : fails) = mid;
    }
    return seek(run.offset(fails)).error();
  }
  return ok_status();
}

Status fill_per_position(const RecordLocator& locator, const RecordOffsets& offsets, const MapGrid& grid,
                         const MapPlan& plan, float* cube) {
  const std::int64_t npt = grid.points;
  const std::int64_t cells = grid.rows * grid.columns;
  // Cells no record reaches stay zero.
  std::memset(cube + plan.records * npt, 0, static_cast<std::size_t>((cells - plan.records) * npt) * 4);
  if (npt == 0) return ok_status();
  std::vector<std::int64_t> broadcast;  // rows that got one value (the end of the file)
  RecordWalk walk(offsets);
  KESTREL_CHECK(gather(locator.source(), [&](CopyJob& job) {
    for (;;) {
      if (!walk.next() || walk.index() >= plan.records) return false;
      const std::int64_t at = static_cast<std::int64_t>(walk.offset());
      const std::int64_t left = locator.size() - at;
      const bool full = left >= 4 * npt;
      if (!full) broadcast.push_back(walk.index());
      if (left < 4) continue;  // nothing to read: cannot happen after a plan, but stay inside the file
      job = {at, reinterpret_cast<std::byte*>(cube + walk.index() * npt),
             static_cast<std::size_t>(full ? 4 * npt : 4)};
      return true;
    }
  }));
  for (const std::int64_t i : broadcast) std::fill(cube + i * npt + 1, cube + (i + 1) * npt, cube[i * npt]);
  return ok_status();
}

}  // namespace

Result<MapPlan> plan_image_map(const RecordLocator& locator, const RecordOffsets& offsets, MapLayout layout,
                               const MapGrid& grid, const Limits& limits) {
  switch (layout) {
    case MapLayout::per_position:
      return plan_per_position(locator, offsets, grid, limits);
    case MapLayout::transposed:
      return plan_transposed(locator, offsets, grid, limits);
    case MapLayout::none:
      KESTREL_CHECK(check_record_seeks(locator, offsets));
      break;
  }
  return MapPlan{};
}

Status fill_image_map(const RecordLocator& locator, const RecordOffsets& offsets, MapLayout layout,
                      const MapGrid& grid, const MapPlan& plan, float* cube) {
  const std::int64_t total = grid.rows * grid.columns * grid.points;
  switch (layout) {
    case MapLayout::per_position:
      return fill_per_position(locator, offsets, grid, plan, cube);
    case MapLayout::transposed:
      if (plan.records < grid.points) std::memset(cube, 0, static_cast<std::size_t>(total) * 4);
      return fill_transposed(locator, offsets, grid.rows * grid.columns, cube, grid.points);
    case MapLayout::none:
      std::memset(cube, 0, static_cast<std::size_t>(total) * 4);
      break;
  }
  return ok_status();
}

Status fill_transposed(const RecordLocator& locator, const RecordOffsets& offsets, std::int64_t pixels, float* dst,
                       std::int64_t depth) {
  if (pixels == 0) return ok_status();
  // A batch of consecutive records fills, for every pixel p, the contiguous run
  // dst[p * depth + first .. first + batch): a block transpose.
  const std::int64_t record_bytes = pixels * 4;
  const std::int64_t batch_records = std::clamp<std::int64_t>((std::int64_t{8} << 20) / record_bytes, 1, 256);
  std::vector<float> bounce(static_cast<std::size_t>(batch_records * pixels));
  RecordWalk walk(offsets);
  bool more = walk.next();
  while (more) {
    const std::int64_t first = walk.index();
    std::int64_t n = 0;
    KESTREL_CHECK(gather(locator.source(), [&](CopyJob& job) {
      if (!more || n == batch_records) return false;
      job = {static_cast<std::int64_t>(walk.offset()), reinterpret_cast<std::byte*>(bounce.data() + n * pixels),
             static_cast<std::size_t>(record_bytes)};
      ++n;
      more = walk.next();
      return true;
    }));
    constexpr std::int64_t kTile = 64;
    for (std::int64_t p0 = 0; p0 < pixels; p0 += kTile) {
      const std::int64_t p1 = std::min(pixels, p0 + kTile);
      for (std::int64_t r0 = 0; r0 < n; r0 += kTile) {
        const std::int64_t r1 = std::min(n, r0 + kTile);
        for (std::int64_t p = p0; p < p1; ++p) {
          float* out = dst + p * depth + first;
          for (std::int64_t r = r0; r < r1; ++r) out[r] = bounce[static_cast<std::size_t>(r * pixels + p)];
        }
      }
    }
  }
  return ok_status();
}

}  // namespace kestrel
