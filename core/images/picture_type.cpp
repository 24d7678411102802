#include "images/picture_type.hpp"

namespace kestrel {

std::optional<std::string_view> picture_type(std::string_view h) {
  using namespace std::string_view_literals;
  // Shorter data simply compares unequal, as a short slice would.
  const std::string_view marker = h.size() > 6 ? h.substr(6, 4) : ""sv;
  if (marker == "JFIF"sv || marker == "Exif"sv) return "jpeg"sv;
  if (h.substr(0, 4) == "\xFF\xD8\xFF\xDB"sv) return "jpeg"sv;
  if (h.starts_with("\x89PNG\r\n\x1A\n"sv)) return "png"sv;
  if (h.substr(0, 6) == "GIF87a"sv || h.substr(0, 6) == "GIF89a"sv) return "gif"sv;
  if (h.starts_with("BM"sv)) return "bmp"sv;
  return std::nullopt;
}

}  // namespace kestrel
