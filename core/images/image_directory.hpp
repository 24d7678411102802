// The picture directory of an image block: one or more image-directory
// parameter blocks, each found by the name BID near the scan position, merged
// into one list of keys (NRP, then F and Z for each picture suffix).
#pragma once

#include <cstdint>

#include "base/limits.hpp"
#include "base/result.hpp"
#include "container/directory.hpp"
#include "images/param_block_cache.hpp"
#include "params/value.hpp"

namespace kestrel {

// True when the block holds a BID whose block-type word has extended type 20.
[[nodiscard]] Result<bool> is_image_directory(const ParamList& block);

// Scans the image block from its start. Each pass reads the directory block
// at the position, then the block of picture 00 (which may itself carry more
// directory keys), and moves to just behind the last picture listed so far.
// The scan ends at the end of the block, where no BID follows within 16 bytes,
// where a directory block lies right behind the last picture it lists, or
// where it comes back to a position it has scanned before (a cycle of blocks
// pointing behind one another would otherwise never end).
[[nodiscard]] Result<ParamList> read_image_directory(ParamBlockCache& blocks, Cursor& cursor,
                                                     const DirectoryEntry& image_block,
                                                     const Limits& limits = default_limits());

}  // namespace kestrel
