#include "extract/image_map.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif
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

Status check_record_seeks(const RecordLocator& locator, const RecordOffsets& offsets) {
  if (auto failure = first_unseekable(locator, offsets)) return std::move(failure->error);
  return ok_status();
}

// With no points per spectrum a record reads nothing, so only its seek and
// its place in the grid can fail: decided per run, not per record, so a
// claimed run of 2**31 records costs nothing.
Result<MapPlan> plan_empty_spectra(const RecordLocator& locator, const RecordOffsets& offsets, const MapGrid& grid) {
  MapPlan plan;
  const std::int64_t count = offsets.count();
  if (count == 0) return plan;
  auto unseekable = first_unseekable(locator, offsets);
  const std::int64_t cells = grid.rows * grid.columns;
  if (unseekable && unseekable->index == 0) return std::move(unseekable->error);
  if (grid.columns == 0) return Error::zero_division("integer modulo by zero");
  if (unseekable && unseekable->index <= std::min(count - 1, cells)) return std::move(unseekable->error);
  if (count > cells) {
    plan.failure = NumpyFailure{NumpyFailure::Step::index_row, cells, 0, 0, grid.rows, 0};
    return plan;
  }
  plan.records = count;
  return plan;
}

Result<MapPlan> plan_per_position(const RecordLocator& locator, const RecordOffsets& offsets, const MapGrid& grid,
                                  const Limits& limits) {
  if (grid.points == 0) return plan_empty_spectra(locator, offsets, grid);
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

// Zeroes n floats; an empty cube may come without storage (a null pointer).
void zero_floats(float* dst, std::int64_t n) {
  if (n > 0) std::memset(dst, 0, static_cast<std::size_t>(n) * 4);
}

Status fill_per_position(const RecordLocator& locator, const RecordOffsets& offsets, const MapGrid& grid,
                         const MapPlan& plan, float* cube) {
  const std::int64_t npt = grid.points;
  const std::int64_t cells = grid.rows * grid.columns;
  // Cells no record reaches stay zero.
  if (cells > plan.records) zero_floats(cube + plan.records * npt, (cells - plan.records) * npt);
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

// dst[p * depth + r] = src[r * pitch + p] for r < records, p < pixels, in tiles
// that stay in the first-level cache, four by four with SSE where it exists.
void transpose_block(const float* src, std::int64_t pitch, std::int64_t records, std::int64_t pixels, float* dst,
                     std::int64_t depth) {
  constexpr std::int64_t kPixelTile = 64;
  constexpr std::int64_t kRecordTile = 32;
  for (std::int64_t p0 = 0; p0 < pixels; p0 += kPixelTile) {
    const std::int64_t p1 = std::min(pixels, p0 + kPixelTile);
    for (std::int64_t r0 = 0; r0 < records; r0 += kRecordTile) {
      const std::int64_t r1 = std::min(records, r0 + kRecordTile);
      std::int64_t p = p0;
#if defined(__SSE2__)
      for (; p + 4 <= p1; p += 4) {
        std::int64_t r = r0;
        for (; r + 4 <= r1; r += 4) {
          __m128 a = _mm_loadu_ps(src + r * pitch + p);
          __m128 b = _mm_loadu_ps(src + (r + 1) * pitch + p);
          __m128 c = _mm_loadu_ps(src + (r + 2) * pitch + p);
          __m128 d = _mm_loadu_ps(src + (r + 3) * pitch + p);
          _MM_TRANSPOSE4_PS(a, b, c, d);
          _mm_storeu_ps(dst + p * depth + r, a);
          _mm_storeu_ps(dst + (p + 1) * depth + r, b);
          _mm_storeu_ps(dst + (p + 2) * depth + r, c);
          _mm_storeu_ps(dst + (p + 3) * depth + r, d);
        }
        for (; r < r1; ++r) {
          for (std::int64_t q = p; q < p + 4; ++q) dst[q * depth + r] = src[r * pitch + q];
        }
      }
#endif
      for (; p < p1; ++p) {
        for (std::int64_t r = r0; r < r1; ++r) dst[p * depth + r] = src[r * pitch + p];
      }
    }
  }
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
      if (plan.records < grid.points) zero_floats(cube, total);
      return fill_transposed(locator, offsets, grid.rows * grid.columns, cube, grid.points);
    case MapLayout::none:
      zero_floats(cube, total);
      break;
  }
  return ok_status();
}

Status fill_transposed(const RecordLocator& locator, const RecordOffsets& offsets, std::int64_t pixels, float* dst,
                       std::int64_t depth) {
  if (pixels == 0 || offsets.empty()) return ok_status();
  // A batch of consecutive records fills, for every pixel p, the contiguous run
  // dst[p * depth + first .. first + batch): a block transpose. Records sit in
  // the bounce buffer a little more than their size apart, so that the same
  // pixel of many records does not fall into one cache set.
  const std::int64_t pitch = pixels + 16;
  const std::int64_t batch_records =
      std::clamp<std::int64_t>((std::int64_t{8} << 20) / (pitch * 4), 1, std::min<std::int64_t>(256, offsets.count()));
  const std::unique_ptr<float[]> bounce(new float[static_cast<std::size_t>(batch_records * pitch)]);
  RecordWalk walk(offsets);
  bool more = walk.next();
  while (more) {
    const std::int64_t first = walk.index();
    std::int64_t n = 0;
    KESTREL_CHECK(gather(locator.source(), [&](CopyJob& job) {
      if (!more || n == batch_records) return false;
      job = {static_cast<std::int64_t>(walk.offset()), reinterpret_cast<std::byte*>(bounce.get() + n * pitch),
             static_cast<std::size_t>(pixels * 4)};
      ++n;
      more = walk.next();
      return true;
    }));
    transpose_block(bounce.get(), pitch, n, pixels, dst + first, depth);
  }
  return ok_status();
}

}  // namespace kestrel
