// Where the parts of one 3D sub-block record lie, and what reading them gives,
// worked out from the record's offset and the file's size alone. Records are
// read value first, so the time and the label are found relative to where the
// values ended: after a short read at the end of the file that is the end of
// the file (or the record offset, when it lies past the end).
#pragma once

#include <cstdint>

#include "base/result.hpp"
#include "io/byte_source.hpp"
#include "tables3d/record_offsets.hpp"

namespace kestrel {

struct RecordValues {
  std::int64_t offset = 0;  // where the values start
  std::int64_t count = 0;   // values delivered: the count asked for, or fewer at the end of the file
  std::int64_t end = 0;     // the file position after reading them
};

inline constexpr std::int64_t kTimeOffset = 136;   // float64 time, after the values
inline constexpr std::int64_t kLabelOffset = 152;  // NUL-terminated label, after the values

class RecordLocator {
 public:
  explicit RecordLocator(const ByteSource& source) : source_(source) {}

  const ByteSource& source() const { return source_; }
  std::int64_t size() const { return static_cast<std::int64_t>(source_.size()); }

  // seek(offset), then numpy.fromfile of `count` float32 values (all remaining when negative).
  Result<RecordValues> values(WideOffset offset, std::int64_t count) const;

  // seek(136, 1) after the values, then an 8-byte field: the field's position,
  // or the error of the seek or of the short read.
  Result<std::int64_t> time(const RecordValues& v) const;

  // seek(152, 1) after the values: where the label starts.
  Result<std::int64_t> label(const RecordValues& v) const;

 private:
  Status check_seek(std::int64_t pos) const;

  const ByteSource& source_;
};

}  // namespace kestrel
