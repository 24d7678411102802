// Parameter blocks read during one picture walk, kept by offset. The directory
// scan reads the block of picture 00 again in every pass, and pictures may
// share a block; the file does not change during a call, so a block read once
// reads the same again. Only a bounded number of entries is kept; beyond that
// blocks are simply read again.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "base/result.hpp"
#include "io/cursor.hpp"
#include "params/value.hpp"

namespace kestrel {

class ParamBlockCache {
 public:
  explicit ParamBlockCache(Cursor& cursor, std::size_t max_entries = std::size_t{1} << 18)
      : cursor_(cursor), max_entries_(max_entries) {}

  // The parameter block at offset, as read_param_block reads it. The cursor
  // may stand anywhere afterwards: callers seek before they read.
  [[nodiscard]] Result<std::shared_ptr<const ParamList>> read(std::int64_t offset);

 private:
  Cursor& cursor_;
  std::size_t max_entries_;
  std::size_t entries_ = 0;
  std::map<std::int64_t, std::shared_ptr<const ParamList>> blocks_;
};

}  // namespace kestrel
