// Names the file type of a picture from its first bytes.
#pragma once

#include <optional>
#include <string_view>

namespace kestrel {

// "jpeg", "png", "gif", "bmp", or nothing.
std::optional<std::string_view> picture_type(std::string_view data);

}  // namespace kestrel
