// Records read as spectrum and time: the rows of a time-resolved series.
#pragma once

#include <cstdint>

#include "base/limits.hpp"
#include "base/result.hpp"
#include "extract/record_locator.hpp"

namespace kestrel {

// Walks the records in order as the reader does (seek, NPT values, seek 136
// on, an 8-byte time) and reports the first failure: a seek error or the short
// read of a time. On success every record delivered all NPT values.
Status plan_timed_records(const RecordLocator& locator, const RecordOffsets& offsets, std::int64_t npt,
                          const Limits& limits);

// After a successful plan: record k's values into rows[k * npt ...] and its
// time into times[k]. Touches nothing but the source and the two buffers.
Status fill_timed_records(const RecordLocator& locator, const RecordOffsets& offsets, std::int64_t npt, float* rows,
                          double* times);

}  // namespace kestrel
