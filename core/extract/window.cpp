// Windows of a planned read: their checks, and whether they reach the place
// where the read stops.
#include <algorithm>
#include <string>

#include "extract/block_plan.hpp"

namespace kestrel {

namespace {

// Whether a window holds a position at or past `at` along an axis of `length`
// (its largest position is `last`, -1 when empty), or reaches the end of an
// axis at whose end the read stops.
bool reaches(std::int64_t last, bool to_end, std::int64_t at, std::int64_t length) {
  if (at >= length) return to_end;
  return last >= at;
}

}  // namespace

Window full_window(const BlockPlan& plan) {
  Window w;
  for (int i = 0; i < plan.ndim; ++i) w.ranges[static_cast<std::size_t>(i)] = {0, plan.shape[static_cast<std::size_t>(i)]};
  return w;
}

Status check_window(const BlockPlan& plan, const Window& w) {
  for (int i = 0; i < plan.ndim; ++i) {
    if (i == 0 && w.rows) continue;
    const AxisRange r = w.ranges[static_cast<std::size_t>(i)];
    const std::int64_t length = plan.shape[static_cast<std::size_t>(i)];
    if (r.start < 0 || r.start > r.stop || r.stop > length) {
      return Error::value("window (" + std::to_string(r.start) + ", " + std::to_string(r.stop) + ") of axis " +
                          std::to_string(i) + " lies outside 0.." + std::to_string(length));
    }
  }
  if (w.rows) {
    if (plan.kind != BlockKind::multi_region && plan.kind != BlockKind::multi_region_trace) {
      return Error::type("row lists select rows of multi-region maps only");
    }
    for (const std::int64_t row : *w.rows) {
      if (row < 0 || row >= plan.shape[0]) {
        return Error::index("row " + std::to_string(row) + " is out of bounds for " + std::to_string(plan.shape[0]) +
                            " rows");
      }
    }
  }
  return ok_status();
}

const PlanFailure* window_failure(const BlockPlan& plan, const Window& w) {
  if (!plan.failure) return nullptr;
  const PlanFailure* failure = &*plan.failure;
  const std::int64_t at = plan.failed_at;
  if (at < 0) return failure;
  const auto& r = w.ranges;
  switch (plan.kind) {
    case BlockKind::image_map: {
      if (plan.layout == MapLayout::transposed) {
        return reaches(r[2].stop - 1, r[2].stop == plan.shape[2], at, plan.shape[2]) ? failure : nullptr;
      }
      const std::int64_t npx = plan.shape[1];
      const bool empty = r[0].size() == 0 || r[1].size() == 0;
      const std::int64_t last = empty ? -1 : (r[0].stop - 1) * npx + r[1].stop - 1;
      const bool to_end = r[0].stop == plan.shape[0] && r[1].stop == npx;
      return reaches(last, to_end, at, plan.shape[0] * npx) ? failure : nullptr;
    }
    case BlockKind::series:
      return reaches(r[0].stop - 1, r[0].stop == plan.shape[0], at, plan.shape[0]) ? failure : nullptr;
    case BlockKind::multi_region:
    case BlockKind::multi_region_trace: {
      if (!w.rows) return reaches(r[0].stop - 1, r[0].stop == plan.shape[0], at, plan.shape[0]) ? failure : nullptr;
      std::int64_t last = -1;
      for (const std::int64_t row : *w.rows) last = std::max(last, row);
      // A list reaches the end when it holds the last row (or when there are no rows at all).
      return reaches(last, plan.shape[0] == 0 || last == plan.shape[0] - 1, at, plan.shape[0]) ? failure : nullptr;
    }
    default:
      return failure;
  }
}

}  // namespace kestrel
