// Names the file type of a picture from its first bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace kestrel {

// "jpeg", "png", "gif", "bmp", or nothing.
std::optional<std::string_view> picture_type(std::string_view data);

// Some instruments store a JPEG or PNG picture behind a 14-byte BMP file header
// ("BM", a size, a data offset) that no image library reads. The length of that
// header when data is such a wrapped stream, else 0.
std::size_t wrapped_stream_header(std::string_view data);

}  // namespace kestrel
