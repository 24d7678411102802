#include "images/image_directory.hpp"

#include <string>
#include <unordered_set>

#include "images/picture_suffix.hpp"
#include "images/scan_arithmetic.hpp"
#include "params/param_block.hpp"

namespace kestrel {

Result<bool> is_image_directory(const ParamList& block) {
  const ParamValue* bid = block.find("BID");
  if (bid == nullptr) return false;
  KESTREL_TRY(int extended, extended_type_of(*bid));
  return extended == kExtendImage;
}

Result<ParamList> read_image_directory(ParamBlockCache& blocks, Cursor& cursor, const DirectoryEntry& image_block,
                                       const Limits& limits) {
  const std::int64_t offset = image_block.byte_offset;
  // sizeInWords may be any int64 from the 64-bit directory: 128 bits hold the end exactly.
  const __int128 block_end = __int128{offset} + __int128{image_block.size_in_words} * 4;

  ParamList param_dir;
  KESTREL_CHECK(cursor.seek(offset));
  std::int64_t position = offset;
  std::unordered_set<std::int64_t> scanned;
  while (__int128{position} != block_end) {
    if (!scanned.insert(position).second ||
        static_cast<std::int64_t>(scanned.size()) > limits.max_image_directory_passes) {
      break;
    }
    const std::int64_t cur_offset = position;

    // The directory block starts at its BID entry, somewhere in the next 16 bytes.
    KESTREL_CHECK(cursor.seek(position));
    KESTREL_TRY(const std::string head, cursor.read(16));
    const std::size_t bid_at = head.find("BID");
    if (bid_at == std::string::npos) break;
    KESTREL_TRY(const auto next_param_dir, blocks.read(position + static_cast<std::int64_t>(bid_at)));
    KESTREL_TRY(const bool next_is_dir, is_image_directory(*next_param_dir));
    if (next_is_dir) param_dir.update(*next_param_dir);

    // The block of picture 00 may continue the directory.
    KESTREL_TRY(const ParamValue* f00, require_param(param_dir, "F00"));
    KESTREL_TRY(const ScanNumber img_00_at, ScanNumber(offset).plus(*f00));
    KESTREL_TRY(const std::int64_t img_00_pos, img_00_at.position());
    KESTREL_TRY(const auto param_img_00, blocks.read(img_00_pos));
    KESTREL_TRY(const bool img_00_is_dir, is_image_directory(*param_img_00));
    if (img_00_is_dir) param_dir.update(*param_img_00);

    // Where the last picture listed so far ends.
    KESTREL_TRY(const ParamValue* nrp, require_param(param_dir, "NRP"));
    KESTREL_TRY(const ParamValue nrp_less_one, minus_one(*nrp));
    KESTREL_TRY(const std::int64_t last, index_value(nrp_less_one));
    KESTREL_TRY([[maybe_unused]] const std::int64_t stop, index_value(*nrp));
    KESTREL_TRY(const ParamValue* img_offset, require_param(param_dir, picture_key('F', last)));
    KESTREL_TRY(const ParamValue* img_size, require_param(param_dir, picture_key('Z', last)));
    KESTREL_TRY(const ScanNumber record_start, ScanNumber(offset).plus(*img_offset));
    KESTREL_TRY(const ScanNumber record_end, record_start.plus(*img_size));

    if (record_end.equals(cur_offset)) break;
    KESTREL_TRY(position, record_end.position());
    KESTREL_CHECK(cursor.seek(position));
  }
  return param_dir;
}

}  // namespace kestrel
