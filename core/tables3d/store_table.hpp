// The store table at the head of a 3D data block: the size of the sub-block
// records, where the first one lies and which spectrum numbers are stored.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "base/result.hpp"
#include "io/cursor.hpp"

namespace kestrel {

// One table entry (first, second): a run of spectrum numbers first..second
// stored back to back, or, when first is -1, a gap of second bytes.
using StoreEntry = std::pair<std::int32_t, std::int32_t>;

// StoreTable3D: the fields as stored, except block_offset, which is made absolute.
struct StoreTable3D {
  std::int32_t version = 0;            // never checked
  std::int32_t stored_blocks = 0;      // stored_blocks
  std::int64_t block_offset = 0;       // absolute: the stored value plus offsetToData
  std::int32_t block_size = 0;         // bytes of spectrum data at the start of a record
  std::int32_t info_size = 0;          // bytes of information after the data
  std::int32_t number_of_entries = 0;  // as stored, negative counts included
  std::vector<StoreEntry> store_table; // file order, duplicates kept

  bool operator==(const StoreTable3D&) const = default;
};

// get3DStoreTable: seeks to offset_to_data and reads six int32 fields and then
// number_of_entries pairs (none when the count is zero or negative). A table cut
// short by the end of the file fails with Error::truncated(4) at the first field
// that is missing, having grown the entry list only as far as the file went.
// The cursor is left right after the last entry.
Result<StoreTable3D> read_store_table(Cursor& cursor, std::int64_t offset_to_data);

}  // namespace kestrel
