// Finds the requested data block and the parameter blocks that describe it.
#pragma once

#include <cstdint>

#include "base/result.hpp"
#include "container/directory.hpp"
#include "extract/request.hpp"
#include "io/cursor.hpp"
#include "params/value.hpp"

namespace kestrel {

// Absolute offsets of the blocks a request needs; -1 = not found.
struct BlockOffsets {
  std::int64_t data = -1;             // offsetToData
  std::int64_t params = -1;           // offsetToParams: its data parameter block
  std::int64_t original_params = -1;  // offsetToOriginalParams: the underived block's data parameters
  std::int64_t acquisition = -1;
  std::int64_t instrument = -1;
  std::int64_t optics = -1;
  std::int64_t sample = -1;
  std::int64_t ft = -1;
  std::int64_t annotation = -1;       // offsetToANNO
};

// One pass over the directory: the first rule that matches an entry decides it,
// and the last entry to set an offset wins.
BlockOffsets select_blocks(const Directory& directory, const Request& request);

// A request resolved against one file: what every data block reader starts from.
struct OpenedBlock {
  Request request;
  BlockOffsets offsets;
  ParamList parameters;  // data parameters, then acquisition, instrument, optics, sample and FT
};

// Refuses non-OPUS files, reads the directory, selects the blocks, and merges
// the parameter blocks in their fixed order.
Result<OpenedBlock> open_block(Cursor& cursor, Request request);

}  // namespace kestrel
