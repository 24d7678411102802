#include "extract/trace_records.hpp"

#include "extract/record_label.hpp"
#include "extract/record_walk_limits.hpp"
#include "io/gather.hpp"

namespace kestrel {

Result<TraceRecords> plan_trace_records(const RecordLocator& locator, const RecordOffsets& offsets, std::int64_t npt,
                                        std::int64_t info_size, std::optional<std::int64_t> reshape_size,
                                        const Limits& limits) {
  TraceRecords out;
  std::optional<NumpyFailure> stack_failure;
  std::int64_t label_bytes = 0;
  for (RecordWalk walk(offsets); walk.next();) {
    KESTREL_CHECK(check_record_count(walk.index(), limits));
    KESTREL_TRY(const RecordValues v, locator.values(walk.offset(), npt));
    const std::int64_t k = walk.index();
    if (reshape_size && v.count != *reshape_size) {
      out.failure = NumpyFailure{NumpyFailure::Step::reshape, k, v.count};
      return out;
    }
    if (k == 0) {
      out.width = v.count;
    } else if (v.count != out.width && !stack_failure) {
      stack_failure = NumpyFailure{NumpyFailure::Step::stack_mismatch, k, v.count, out.width};
    }
    KESTREL_TRY(const std::int64_t label_at, locator.label(v));
    KESTREL_TRY(std::string label, read_label(locator.source(), label_at, info_size - kLabelOffset));
    label_bytes += static_cast<std::int64_t>(label.size());
    if (label_bytes > limits.max_label_bytes) return Error::too_large("the trace labels of the 3D block are too long");
    out.labels.push_back(std::move(label));
    ++out.records;
  }
  if (out.records == 0) {
    out.failure = NumpyFailure{NumpyFailure::Step::stack_empty};
  } else if (stack_failure) {
    out.failure = stack_failure;
  }
  return out;
}

Status fill_trace_rows(const RecordLocator& locator, const RecordOffsets& offsets, std::int64_t width, float* rows) {
  if (width == 0) return ok_status();
  RecordWalk walk(offsets);
  const auto row_bytes = static_cast<std::size_t>(width) * 4;
  return gather(locator.source(), [&](CopyJob& job) {
    if (!walk.next()) return false;
    job = {static_cast<std::int64_t>(walk.offset()), reinterpret_cast<std::byte*>(rows + walk.index() * width),
           row_bytes};
    return true;
  });
}

}  // namespace kestrel
