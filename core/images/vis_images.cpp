#include "images/vis_images.hpp"

#include <algorithm>
#include <map>

#include "images/image_directory.hpp"
#include "images/param_block_cache.hpp"
#include "images/picture_suffix.hpp"
#include "images/picture_type.hpp"
#include "images/scan_arithmetic.hpp"
#include "params/param_block.hpp"

namespace kestrel {

namespace {

constexpr std::int64_t kImageDataRecord = 9;      // T00 of a record that holds picture bytes
constexpr std::int64_t kPrefixedType = 258;       // Type of data stored behind a 14-byte prefix
constexpr std::size_t kPrefixBytes = 14;
constexpr std::int64_t kAttributeOverhead = 64;   // what one attribute costs beside its text

std::int64_t value_bytes(const ParamValue& value) {
  const auto* s = std::get_if<std::string>(&value);
  return s ? static_cast<std::int64_t>(s->size()) : 8;
}

// What a hostile file can make the pictures hold: many pictures may point at
// the same attributes and the same bytes, so the total is capped.
class ResultBudget {
 public:
  ResultBudget(std::int64_t file_size, const Limits& limits)
      : left_(file_size + limits.max_result_slack_bytes) {}
  Status spend(std::int64_t bytes) {
    left_ -= bytes;
    if (left_ < 0) return Error::too_large("the pictures of the image block would not fit in memory");
    return ok_status();
  }

 private:
  std::int64_t left_;
};

// The "Title" and named attributes of one picture block. The H keys are
// listed before any is used, so an empty name fails before any pair does.
Result<ParamList> picture_attributes(const ParamList& param_img, ResultBudget& budget) {
  for (const auto& [key, value] : param_img.items()) {
    if (key.empty()) return Error::index("string index out of range");
  }
  ParamList attributes;
  for (const auto& [key, value] : param_img.items()) {
    if (key.front() != 'H') continue;
    if (key == "H00") {
      KESTREL_CHECK(budget.spend(kAttributeOverhead + value_bytes(value)));
      attributes.set("Title", value);
      continue;
    }
    KESTREL_TRY(std::string name, attribute_name(value));
    // H05 pairs with V05: every H of the key becomes a V.
    std::string partner = key;
    std::replace(partner.begin(), partner.end(), 'H', 'V');
    KESTREL_TRY(const ParamValue* partner_value, require_param(param_img, partner));
    KESTREL_CHECK(budget.spend(kAttributeOverhead + static_cast<std::int64_t>(name.size()) +
                               value_bytes(*partner_value)));
    attributes.set(std::move(name), *partner_value);
  }
  return attributes;
}

// Where a picture's bytes lie. All pictures are planned before any bytes are
// read: reading cannot fail where a lookup could, so the order of errors is
// that of a picture-by-picture walk, and the total is known before any of it
// is allocated.
struct DataRange {
  std::int64_t at;
  std::int64_t length;  // what read() delivers there: fewer at the end of the file
  bool drop_prefix;     // Type 258
  auto operator<=>(const DataRange&) const = default;
};

// One picture: its attributes, then the record's data area right behind its
// parameter block, and within it the picture bytes at F00.
Result<Picture> plan_picture(Cursor& cursor, const ParamList& param_img, const ScanNumber& record,
                             ResultBudget& budget, std::optional<DataRange>& range) {
  Picture picture;
  KESTREL_TRY(picture.attributes, picture_attributes(param_img, budget));

  KESTREL_TRY(const ParamValue* siz, require_param(param_img, "SIZ"));
  KESTREL_TRY(const ScanNumber anno_offset, record.plus(*siz));
  KESTREL_TRY(const std::int64_t anno_at, anno_offset.position());
  KESTREL_CHECK(cursor.seek(anno_at));
  KESTREL_TRY(const ParamValue* t00, require_param(param_img, "T00"));
  if (!equals_int(*t00, kImageDataRecord)) return picture;

  KESTREL_TRY(const ParamValue* f00, require_param(param_img, "F00"));
  KESTREL_TRY(const ScanNumber data_offset, anno_offset.plus(*f00));
  KESTREL_TRY(const std::int64_t data_at, data_offset.position());
  KESTREL_CHECK(cursor.seek(data_at));
  KESTREL_TRY(const ParamValue* bytes, require_param(picture.attributes, "Bytes"));
  KESTREL_TRY(const std::int64_t count, read_count(*bytes));
  // Fewer bytes at the end of the file; a negative count reads to the end.
  const std::int64_t available = cursor.available();
  const std::int64_t length = count < 0 ? available : std::min(count, available);
  KESTREL_TRY(const ParamValue* type, require_param(picture.attributes, "Type"));
  range = DataRange{data_at, length, equals_int(*type, kPrefixedType)};
  return picture;
}

// Reads each distinct range once and hands the bytes to every picture that asked for them.
Status read_picture_data(Cursor& cursor, std::vector<Picture>& pictures,
                         const std::vector<std::optional<DataRange>>& ranges, ResultBudget& budget) {
  std::map<DataRange, PictureData> distinct;
  for (const auto& range : ranges) {
    if (range && distinct.try_emplace(*range).second) KESTREL_CHECK(budget.spend(range->length));
  }
  for (auto& [range, data] : distinct) {
    KESTREL_CHECK(cursor.seek(range.at));
    KESTREL_TRY(std::string bytes, cursor.read(range.length));
    if (range.drop_prefix) {
      bytes.erase(0, std::min(kPrefixBytes, bytes.size()));
    } else {
      // Whatever the Type says, a JPEG or PNG behind a BMP file header is
      // returned as the stream it is: those 14 bytes make it unreadable.
      bytes.erase(0, wrapped_stream_header(bytes));
    }
    data.type = picture_type(bytes);
    data.bytes = std::make_shared<const std::string>(std::move(bytes));
  }
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    if (ranges[i]) pictures[i].data = distinct.at(*ranges[i]);
  }
  return ok_status();
}

}  // namespace

const DirectoryEntry* find_image_block(const Directory& directory) {
  const auto it = std::find_if(directory.begin(), directory.end(),
                               [](const DirectoryEntry& e) { return e.type[EXTEND_TYPE] == kExtendImage; });
  return it == directory.end() ? nullptr : &*it;
}

Result<std::vector<Picture>> read_pictures(Cursor& cursor, const DirectoryEntry& image_block, const Limits& limits) {
  ParamBlockCache blocks(cursor);
  KESTREL_TRY(const ParamList param_dir, read_image_directory(blocks, cursor, image_block, limits));
  KESTREL_TRY(const ParamValue* nrp, require_param(param_dir, "NRP"));
  KESTREL_TRY(const std::int64_t count, index_value(*nrp));

  // No room is reserved from the count: every picture must be listed under its
  // own F key, so a count beyond the keys present fails at the first missing one.
  ResultBudget budget(cursor.size(), limits);
  std::vector<Picture> pictures;
  std::vector<std::optional<DataRange>> ranges;
  const std::int64_t offset = image_block.byte_offset;
  for (std::int64_t n = 0; n < count; ++n) {
    KESTREL_TRY(const ParamValue* p_img_offset, require_param(param_dir, picture_key('F', n)));
    KESTREL_TRY(const ScanNumber record, ScanNumber(offset).plus(*p_img_offset));
    KESTREL_TRY(const std::int64_t record_at, record.position());
    KESTREL_TRY(const auto param_img, blocks.read(record_at));
    std::optional<DataRange> range;
    KESTREL_TRY(Picture picture, plan_picture(cursor, *param_img, record, budget, range));
    pictures.push_back(std::move(picture));
    ranges.push_back(range);
  }
  KESTREL_CHECK(read_picture_data(cursor, pictures, ranges, budget));
  return pictures;
}

Result<std::vector<Picture>> read_vis_images(Cursor& cursor, const Limits& limits) {
  KESTREL_TRY(const Directory directory, read_directory(cursor));
  const DirectoryEntry* image_block = find_image_block(directory);
  if (image_block == nullptr) return std::vector<Picture>{};
  return read_pictures(cursor, *image_block, limits);
}

}  // namespace kestrel
