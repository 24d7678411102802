// Copies many small byte ranges of a file into their destinations with few
// system calls: ranges that follow each other in the file (with short gaps
// between them) are read by one scattered read whose pieces point straight at
// the destinations, and at a scratch buffer for the bytes in between.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "base/result.hpp"
#include "io/byte_source.hpp"

namespace kestrel {

struct CopyJob {
  std::int64_t file_offset;  // >= 0
  std::byte* destination;
  std::size_t size;
};

// Gaps up to this size between jobs are read into scratch by default: the info
// areas between records are a few hundred bytes.
inline constexpr std::int64_t kDefaultMaxGap = 64 * 1024;

// Pulls jobs from `next` until it returns false and reads each one completely.
// Jobs further apart than max_gap bytes (or the source's bridged_gap(), when
// smaller) start a new read. Every job must lie
// inside the source; one that does not is a bug of the caller and is reported
// as Error::io(EIO) rather than leaving its destination half-filled.
Status gather(const ByteSource& source, const std::function<bool(CopyJob&)>& next,
              std::int64_t max_gap = kDefaultMaxGap);

}  // namespace kestrel
