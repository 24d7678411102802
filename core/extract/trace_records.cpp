#include "extract/trace_records.hpp"

#include "extract/record_label.hpp"
#include "extract/record_walk_limits.hpp"

namespace kestrel {

namespace {

// Reading one record as the reader does: seek, NPT values, seek 152 on. Past
// the end of the file that yields no values and an empty label.
Result<RecordValues> seek_record(const RecordLocator& locator, WideOffset offset, std::int64_t npt) {
  KESTREL_TRY(const RecordValues v, locator.values(offset, npt));
  KESTREL_CHECK(locator.label(v));
  return v;
}

// How many records of run from record k on start at or past the end of the
// file (where each reads no values and an empty label).
std::int64_t records_past_end(const RecordRun& run, std::int64_t k, std::int64_t size) {
  const WideOffset first = run.offset(k);
  if (first < size) return 0;
  const std::int64_t left = run.count - k;
  if (run.stride >= 0) return left;
  const WideOffset n = (first - size) / -WideOffset{run.stride} + 1;
  return n < left ? static_cast<std::int64_t>(n) : left;
}

}  // namespace

Result<TraceRecords> plan_trace_records(const RecordLocator& locator, const RecordOffsets& offsets, std::int64_t npt,
                                        std::int64_t info_size, std::optional<std::int64_t> reshape_size,
                                        const Limits& limits) {
  TraceRecords out;
  std::optional<NumpyFailure> stack_failure;
  std::int64_t label_bytes = 0;
  // Each record's values give its row: the first decides the width, and the
  // first of another width is where stacking fails.
  auto add_row = [&](std::int64_t k, std::int64_t count) {
    if (k == 0) {
      out.width = count;
    } else if (count != out.width && !stack_failure) {
      stack_failure = NumpyFailure{NumpyFailure::Step::stack_mismatch, k, count, out.width};
    }
  };
  for (const NumberedRun& numbered : offsets.runs()) {
    const RecordRun& run = numbered.records;
    for (std::int64_t k = 0; k < run.count; ++k) {
      const std::int64_t index = run.index + k;
      const std::int64_t past_end = records_past_end(run, k, locator.size());
      if (past_end > 1) {
        // A stretch of records past the end of the file, each with no values
        // and an empty label: decided in bulk, so that a table claiming 2**31
        // of them costs O(log) seeks. The seeks a file accepts form one range
        // and the offsets move one way, so the first failing seek is found by
        // bisection; in walk order the record cap and the reshape come first
        // where they apply.
        KESTREL_CHECK(check_record_count(index, limits, locator.size()));
        KESTREL_CHECK(locator.values(run.offset(k), npt));
        if (reshape_size && *reshape_size != 0) {
          out.failure = NumpyFailure{NumpyFailure::Step::reshape, index, 0};
          return out;
        }
        auto seeks = [&](std::int64_t j) { return seek_record(locator, run.offset(k + j), npt).ok(); };
        std::int64_t fails = past_end;  // the first record of the stretch whose seeks fail, or none
        if (!seeks(0)) {
          fails = 0;
        } else if (!seeks(past_end - 1)) {
          std::int64_t fine = 0;
          fails = past_end - 1;
          while (fails - fine > 1) {
            const std::int64_t mid = fine + (fails - fine) / 2;
            (seeks(mid) ? fine : fails) = mid;
          }
        }
        const std::int64_t walkable = limits.max_records + locator.size() / 4;
        const std::int64_t cap = walkable - index;  // records of the stretch before the cap
        if (fails < past_end && fails < cap) return seek_record(locator, run.offset(k + fails), npt).error();
        if (cap < past_end) KESTREL_CHECK(check_record_count(walkable, limits, locator.size()));
        add_row(index, 0);
        out.labels.insert(out.labels.end(), static_cast<std::size_t>(past_end), std::string());
        out.records += past_end;
        k += past_end - 1;
        continue;
      }
      KESTREL_CHECK(check_record_count(index, limits, locator.size()));
      KESTREL_TRY(const RecordValues v, locator.values(run.offset(k), npt));
      if (reshape_size && v.count != *reshape_size) {
        out.failure = NumpyFailure{NumpyFailure::Step::reshape, index, v.count};
        return out;
      }
      add_row(index, v.count);
      KESTREL_TRY(const std::int64_t label_at, locator.label(v));
      KESTREL_TRY(std::string label, read_label(locator.source(), label_at, info_size - kLabelOffset));
      label_bytes += static_cast<std::int64_t>(label.size());
      if (label_bytes > limits.max_label_bytes + locator.size()) {
        return Error::too_large("the trace labels of the 3D block are too long");
      }
      out.labels.push_back(std::move(label));
      ++out.records;
    }
  }
  if (out.records == 0) {
    out.failure = NumpyFailure{NumpyFailure::Step::stack_empty};
  } else if (stack_failure) {
    out.failure = stack_failure;
  }
  return out;
}

}  // namespace kestrel
