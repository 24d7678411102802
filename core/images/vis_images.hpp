// The visible-light pictures of a file: the first block of extended type 20
// holds a picture directory and one record per picture, a parameter block of
// named attributes (H/V pairs) followed by the picture's bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/limits.hpp"
#include "base/result.hpp"
#include "container/directory.hpp"
#include "io/cursor.hpp"
#include "params/value.hpp"

namespace kestrel {

struct PictureData {
  // "image": the stored bytes, any prefix removed. Pictures that read the same
  // bytes of the file share them.
  std::shared_ptr<const std::string> bytes;
  std::optional<std::string_view> type;  // "imgext": jpeg, png, gif, bmp, or none
};

struct Picture {
  // "Title" and the named attributes, keyed and ordered as a dict: a name
  // keeps its first position and takes its last value.
  ParamList attributes;
  // Present when the record holds image data; its two entries go after the
  // attributes (or replace attributes of the same names in place).
  std::optional<PictureData> data;
};

// The image block: the first directory entry of extended type 20, if any.
const DirectoryEntry* find_image_block(const Directory& directory);

// Every picture of the image block, in the order of their suffixes.
[[nodiscard]] Result<std::vector<Picture>> read_pictures(Cursor& cursor, const DirectoryEntry& image_block,
                                                         const Limits& limits = default_limits());

// The directory, then the pictures of its image block; none without one.
[[nodiscard]] Result<std::vector<Picture>> read_vis_images(Cursor& cursor, const Limits& limits = default_limits());

}  // namespace kestrel
