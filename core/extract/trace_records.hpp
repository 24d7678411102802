// Records read as trace values and label: the traces of the three trace kinds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/limits.hpp"
#include "base/result.hpp"
#include "extract/numpy_failure.hpp"
#include "extract/record_locator.hpp"

namespace kestrel {

struct TraceRecords {
  std::int64_t records = 0;
  std::int64_t width = 0;            // values per record (all equal when nothing failed)
  std::vector<std::string> labels;   // one per record, UTF-8
  std::optional<NumpyFailure> failure;
};

// Walks the records in order: NPT values, then seek 152 on and the label
// (info_size - 152 bytes, cut at the first NUL). With reshape_size, each record
// is reshaped to an image of that many values and the first record of another
// length fails there; without it the records are stacked as rows afterwards,
// which fails at the first row whose length differs from row 0's, or when
// there are no records at all.
Result<TraceRecords> plan_trace_records(const RecordLocator& locator, const RecordOffsets& offsets, std::int64_t npt,
                                        std::int64_t info_size, std::optional<std::int64_t> reshape_size,
                                        const Limits& limits);

}  // namespace kestrel
