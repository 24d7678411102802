// Records read as spectrum and time: the rows of a time-resolved series.
#pragma once

#include <cstdint>
#include <optional>

#include "base/limits.hpp"
#include "base/result.hpp"
#include "extract/record_locator.hpp"

namespace kestrel {

// Walks the records in order as the reader does (seek, NPT values, seek 136
// on, an 8-byte time): the records before the first failure (a seek error or
// the short read of a time), and that failure. Every record before it
// delivered all NPT values.
struct TimedRecords {
  std::int64_t records = 0;
  std::optional<Error> error;  // at record `records`
};
TimedRecords plan_timed_records(const RecordLocator& locator, const RecordOffsets& offsets, std::int64_t npt,
                                const Limits& limits);

}  // namespace kestrel
