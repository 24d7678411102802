// The file header and the block directory, with its 64-bit extension.
#pragma once

#include <cstdint>
#include <vector>

#include "base/result.hpp"
#include "container/block_type.hpp"
#include "io/cursor.hpp"

namespace kestrel {

inline constexpr std::int32_t kOpusMagic = 168492798;  // the bytes 0A 0A FE FE, big-endian

struct DirectoryEntry {
  BlockType type;
  std::int64_t size_in_words;  // sizeInWords
  std::int64_t byte_offset;    // byteOffset
};

using Directory = std::vector<DirectoryEntry>;

// True when the first four bytes are the magic number; a file shorter than four bytes is not.
Result<bool> is_opus(Cursor& cursor);

// Every entry of the 12-byte directory in file order, then those of the 64-bit
// extension that the last entry of extended type 64 points to.
Result<Directory> read_directory(Cursor& cursor);

// The directory of an OPUS file: is_opus, then read_directory; a file without
// the magic number is the value error "Can't process a non-Opus file".
Result<Directory> read_opus_directory(Cursor& cursor);

}  // namespace kestrel
