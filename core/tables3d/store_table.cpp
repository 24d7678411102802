#include "tables3d/store_table.hpp"

#include "base/checked.hpp"

namespace kestrel {

Result<StoreTable3D> read_store_table(Cursor& cursor, std::int64_t offset_to_data) {
  StoreTable3D t;
  KESTREL_CHECK(cursor.seek(offset_to_data));
  KESTREL_TRY(t.version, cursor.read_i32());
  KESTREL_TRY(t.stored_blocks, cursor.read_i32());
  KESTREL_TRY(const std::int32_t stored_offset, cursor.read_i32());
  // The record area is addressed from the block start; a sum past 64 bits is an
  // offset no file object could seek to.
  const auto absolute = add_i64(stored_offset, offset_to_data);
  if (!absolute) return Error::offset_overflow();
  t.block_offset = *absolute;
  KESTREL_TRY(t.block_size, cursor.read_i32());
  KESTREL_TRY(t.info_size, cursor.read_i32());
  KESTREL_TRY(t.number_of_entries, cursor.read_i32());
  // The count is untrusted: the list grows entry by entry, so a claimed 2**31-1
  // entries in a small file stops at the first missing field.
  for (std::int32_t i = 0; i < t.number_of_entries; ++i) {
    KESTREL_TRY(const std::int32_t first, cursor.read_i32());
    KESTREL_TRY(const std::int32_t second, cursor.read_i32());
    t.store_table.emplace_back(first, second);
  }
  return t;
}

}  // namespace kestrel
