#include "extract/image_map.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>


#include "extract/record_walk_limits.hpp"

namespace kestrel {

MapLayout map_layout(const StoreTable3D& table, std::int64_t npt) {
  const bool image_blocks = std::int64_t{table.block_size} == 4 * npt;
  const bool transposed = std::int64_t{table.stored_blocks} == npt;
  if (image_blocks && !transposed) return MapLayout::per_position;
  if (transposed && !image_blocks) return MapLayout::transposed;
  return MapLayout::none;
}

namespace {

// With neither layout (or both) nothing is read, but the reader still seeks to
// every record first, so a record no seek can reach fails all the same. The
// offsets a seek accepts form one interval (0 up to what the file system
// allows) and offsets move one way through a run, so the failing records of a
// run are a prefix or a suffix of it: O(log records) seeks per run, not one
// per record, and no bound on the record count is needed.
struct SeekFailure {
  std::int64_t index;
  Error error;
};

std::optional<SeekFailure> first_unseekable(const RecordLocator& locator, const RecordOffsets& offsets) {
  auto seek = [&](WideOffset offset) { return locator.values(offset, 0); };
  for (const NumberedRun& numbered : offsets.runs()) {
    const RecordRun& run = numbered.records;
    if (auto first = seek(run.first_offset); !first) return SeekFailure{run.index, std::move(first).error()};
    if (seek(run.last_offset())) continue;
    std::int64_t fine = 0;             // a record the seek reaches
    std::int64_t fails = run.count - 1;  // a record it does not
    while (fails - fine > 1) {
      const std::int64_t mid = fine + (fails - fine) / 2;
      (seek(run.offset(mid)) ? fine : fails) = mid;
    }
    return SeekFailure{run.index + fails, seek(run.offset(fails)).error()};
  }
  return std::nullopt;
}

// With no points per spectrum a record reads nothing, so only its seek and
// its place in the grid can fail: decided per run, not per record, so a
// claimed run of 2**31 records costs nothing.
MapPlan fail_at(MapPlan plan, std::int64_t record, Error error) {
  plan.error = std::move(error);
  plan.failed_at = record;
  return plan;
}

MapPlan plan_empty_spectra(const RecordLocator& locator, const RecordOffsets& offsets, const MapGrid& grid) {
  MapPlan plan;
  const std::int64_t count = offsets.count();
  if (count == 0) return plan;
  auto unseekable = first_unseekable(locator, offsets);
  const std::int64_t cells = grid.rows * grid.columns;
  if (unseekable && unseekable->index == 0) return fail_at(plan, 0, std::move(unseekable->error));
  if (grid.columns == 0) return fail_at(plan, 0, Error::zero_division("integer modulo by zero"));
  if (unseekable && unseekable->index <= std::min(count - 1, cells)) {
    plan.records = unseekable->index;
    return fail_at(plan, unseekable->index, std::move(unseekable->error));
  }
  if (count > cells) {
    plan.records = cells;
    plan.failure = NumpyFailure{NumpyFailure::Step::index_row, cells, 0, 0, grid.rows, 0};
    plan.failed_at = cells;
    return plan;
  }
  plan.records = count;
  return plan;
}

MapPlan plan_per_position(const RecordLocator& locator, const RecordOffsets& offsets, const MapGrid& grid,
                          const Limits& limits) {
  if (grid.points == 0) return plan_empty_spectra(locator, offsets, grid);
  MapPlan plan;
  for (RecordWalk walk(offsets); walk.next();) {
    const std::int64_t i = walk.index();
    if (auto capped = check_record_count(i, limits, locator.size()); !capped) {
      return fail_at(plan, i, std::move(capped).error());
    }
    auto read = locator.values(walk.offset(), grid.points);
    if (!read) return fail_at(plan, i, std::move(read).error());
    const RecordValues v = read.value();
    if (grid.columns == 0) return fail_at(plan, i, Error::zero_division("integer modulo by zero"));
    const std::int64_t column = i % grid.columns;
    const std::int64_t row = i / grid.columns;
    if (row >= grid.rows) {
      plan.failure = NumpyFailure{NumpyFailure::Step::index_row, i, v.count, 0, row, column};
      plan.failed_at = i;
      return plan;
    }
    // A single value broadcasts over the whole row; any other short count does not fit.
    if (v.count != grid.points && v.count != 1) {
      plan.failure = NumpyFailure{NumpyFailure::Step::assign_row, i, v.count, 0, row, column};
      plan.failed_at = i;
      return plan;
    }
    plan.records = i + 1;
  }
  return plan;
}

MapPlan plan_transposed(const RecordLocator& locator, const RecordOffsets& offsets, const MapGrid& grid,
                        const Limits& limits) {
  MapPlan plan;
  const std::int64_t pixels = grid.rows * grid.columns;
  for (RecordWalk walk(offsets); walk.next();) {
    const std::int64_t i = walk.index();
    if (auto capped = check_record_count(i, limits, locator.size()); !capped) {
      return fail_at(plan, i, std::move(capped).error());
    }
    auto read = locator.values(walk.offset(), pixels);
    if (!read) return fail_at(plan, i, std::move(read).error());
    const RecordValues v = read.value();
    if (v.count != pixels) {
      plan.failure = NumpyFailure{NumpyFailure::Step::reshape, i, v.count, 0, grid.rows, grid.columns};
      plan.failed_at = i;
      return plan;
    }
    if (i >= grid.points) {
      plan.failure = NumpyFailure{NumpyFailure::Step::index_point, i, v.count};
      plan.failed_at = i;
      return plan;
    }
    plan.records = i + 1;
  }
  return plan;
}

}  // namespace

MapPlan plan_image_map(const RecordLocator& locator, const RecordOffsets& offsets, MapLayout layout,
                       const MapGrid& grid, const Limits& limits) {
  switch (layout) {
    case MapLayout::per_position:
      return plan_per_position(locator, offsets, grid, limits);
    case MapLayout::transposed:
      return plan_transposed(locator, offsets, grid, limits);
    case MapLayout::none:
      break;
  }
  MapPlan plan;
  if (auto failure = first_unseekable(locator, offsets)) plan.error = std::move(failure->error);
  return plan;
}

}  // namespace kestrel
