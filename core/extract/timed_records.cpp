#include "extract/timed_records.hpp"

#include "extract/record_walk_limits.hpp"

namespace kestrel {

TimedRecords plan_timed_records(const RecordLocator& locator, const RecordOffsets& offsets, std::int64_t npt,
                                const Limits& limits) {
  TimedRecords out;
  for (RecordWalk walk(offsets); walk.next(); ++out.records) {
    if (auto capped = check_record_count(walk.index(), limits, locator.size()); !capped) {
      out.error = std::move(capped).error();
      break;
    }
    auto v = locator.values(walk.offset(), npt);
    auto time = v ? locator.time(v.value()) : Result<std::int64_t>(v.error());
    if (!time) {
      out.error = std::move(time).error();
      break;
    }
  }
  return out;
}

}  // namespace kestrel
