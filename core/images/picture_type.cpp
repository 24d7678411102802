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

std::size_t wrapped_stream_header(std::string_view data) {
  using namespace std::string_view_literals;
  constexpr std::size_t kBmpFileHeader = 14;
  if (!data.starts_with("BM"sv) || data.size() <= kBmpFileHeader) return 0;
  // A real BMP has its info header there, whose first bytes (its size) never
  // look like a JPEG start-of-image marker or the PNG signature.
  const std::string_view stream = data.substr(kBmpFileHeader);
  const bool jpeg = stream.starts_with("\xFF\xD8\xFF"sv);  // start of image, then the first marker
  const bool png = stream.starts_with("\x89PNG\r\n\x1A\n"sv);
  return jpeg || png ? kBmpFileHeader : 0;
}

}  // namespace kestrel
