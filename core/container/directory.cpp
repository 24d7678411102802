#include "container/directory.hpp"

namespace kestrel {

Result<bool> is_opus(Cursor& cursor) {
  KESTREL_CHECK(cursor.seek(0));
  auto magic = cursor.read_i32_be();
  if (!magic) {
    if (magic.error().kind == ErrorKind::truncated) return false;
    return std::move(magic).error();
  }
  return magic.value() == kOpusMagic;
}

namespace {

// Counts come from the file and are not trusted: the loops run until the count
// is reached or a field read runs off the end, so nothing is reserved up front
// beyond what the bytes left could hold.
std::size_t plausible_entries(std::int64_t count, std::int64_t bytes_left, std::int64_t entry_size) {
  const std::int64_t fit = bytes_left / entry_size + 1;
  return static_cast<std::size_t>(std::max<std::int64_t>(0, std::min(count, fit)));
}

}  // namespace

Result<Directory> read_directory(Cursor& cursor) {
  KESTREL_CHECK(cursor.seek(4));
  KESTREL_TRY([[maybe_unused]] double version, cursor.read_f64());
  KESTREL_TRY(std::int32_t offset_to_directory, cursor.read_i32());
  KESTREL_TRY([[maybe_unused]] std::int32_t max_dir_size, cursor.read_i32());
  KESTREL_TRY(std::int32_t dir_size, cursor.read_i32());

  KESTREL_CHECK(cursor.seek(offset_to_directory));
  Directory directory;
  directory.reserve(plausible_entries(dir_size, cursor.available_upto(std::int64_t{dir_size} * 12), 12));
  std::int64_t six_four_offset = 0;
  for (std::int32_t i = 0; i < dir_size; ++i) {
    KESTREL_TRY(std::int32_t block_type, cursor.read_i32());
    KESTREL_TRY(std::int32_t size_in_words, cursor.read_i32());
    KESTREL_TRY(std::int32_t byte_offset, cursor.read_i32());
    const BlockType btt = decode_block_type(block_type);
    directory.push_back({btt, size_in_words, byte_offset});
    if (btt[EXTEND_TYPE] == kExtendDirectory64) six_four_offset = byte_offset;
  }

  if (six_four_offset != 0) {
    KESTREL_CHECK(cursor.seek(six_four_offset));
    KESTREL_TRY(std::int64_t six_four_blocks, cursor.read_i64());
    KESTREL_TRY([[maybe_unused]] std::int64_t unused, cursor.read_i64());
    // A negative count reads no entry; a huge one asks for what is there.
    const std::int64_t wanted =
        six_four_blocks <= 0 ? 0 : (six_four_blocks > INT64_MAX / 32 ? INT64_MAX : six_four_blocks * 32);
    directory.reserve(directory.size() + plausible_entries(six_four_blocks, cursor.available_upto(wanted), 32));
    for (std::int64_t i = 0; i < six_four_blocks; ++i) {
      KESTREL_TRY(std::int64_t block_type, cursor.read_i64());
      KESTREL_TRY(std::int64_t size_in_words, cursor.read_i64());
      KESTREL_TRY(std::int64_t byte_offset, cursor.read_i64());
      KESTREL_TRY([[maybe_unused]] std::int64_t dropped, cursor.read_i64());
      directory.push_back({decode_block_type(block_type), size_in_words, byte_offset});
    }
  }
  return directory;
}

Result<Directory> read_opus_directory(Cursor& cursor) {
  KESTREL_TRY(const bool opus, is_opus(cursor));
  if (!opus) return Error::value("Can't process a non-Opus file");
  return read_directory(cursor);
}

}  // namespace kestrel
