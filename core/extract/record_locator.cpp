#include "extract/record_locator.hpp"

#include <cerrno>

#include "base/checked.hpp"

namespace kestrel {

Status RecordLocator::check_seek(std::int64_t pos) const {
  const int err = pos < 0 ? EINVAL : source_.seek_errno(pos);
  if (err != 0) return Error::bad_seek(err);
  return ok_status();
}

Result<RecordValues> RecordLocator::values(WideOffset offset, std::int64_t count) const {
  KESTREL_TRY(const std::int64_t at, file_offset(offset));
  KESTREL_CHECK(check_seek(at));
  RecordValues v;
  v.offset = at;
  const std::int64_t available = at < size() ? size() - at : 0;
  const std::int64_t whole = available / 4;
  if (count >= 0 && count <= whole) {
    v.count = count;
    v.end = at + 4 * count;
  } else {
    // numpy hands the file to stdio, which consumes a partial trailing value too.
    v.count = whole;
    v.end = at < size() ? size() : at;
  }
  return v;
}

Result<std::int64_t> RecordLocator::time(const RecordValues& v) const {
  const auto at = add_i64(v.end, kTimeOffset);
  if (!at) return Error::offset_overflow();
  KESTREL_CHECK(check_seek(*at));
  if (*at > size() - 8) return Error::truncated(8);
  return *at;
}

Result<std::int64_t> RecordLocator::label(const RecordValues& v) const {
  const auto at = add_i64(v.end, kLabelOffset);
  if (!at) return Error::offset_overflow();
  KESTREL_CHECK(check_seek(*at));
  return *at;
}

}  // namespace kestrel
