#include "extract/timed_records.hpp"

#include "extract/record_walk_limits.hpp"
#include "io/gather.hpp"

namespace kestrel {

Status plan_timed_records(const RecordLocator& locator, const RecordOffsets& offsets, std::int64_t npt,
                          const Limits& limits) {
  for (RecordWalk walk(offsets); walk.next();) {
    KESTREL_CHECK(check_record_count(walk.index(), limits));
    KESTREL_TRY(const RecordValues v, locator.values(walk.offset(), npt));
    KESTREL_CHECK(locator.time(v));
  }
  return ok_status();
}

Status fill_timed_records(const RecordLocator& locator, const RecordOffsets& offsets, std::int64_t npt, float* rows,
                          double* times) {
  RecordWalk walk(offsets);
  bool time_next = false;  // each record gives two jobs: its values, then its time
  std::int64_t at = 0;
  const auto row_bytes = static_cast<std::size_t>(npt) * 4;
  return gather(locator.source(), [&](CopyJob& job) {
    if (time_next) {
      job = {at + 4 * npt + kTimeOffset, reinterpret_cast<std::byte*>(times + walk.index()), 8};
      time_next = false;
      return true;
    }
    if (!walk.next()) return false;
    at = static_cast<std::int64_t>(walk.offset());  // the plan proved it fits
    job = {at, reinterpret_cast<std::byte*>(rows + walk.index() * npt), row_bytes};
    time_next = true;
    return true;
  });
}

}  // namespace kestrel
