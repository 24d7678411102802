// Pictures: naming a picture's type from its first bytes. The reader of the
// image block joins here: walk the picture directory of every image block the
// directory names, then sniff each picture it returns.
#include "common/harness.hpp"
#include "images/picture_type.hpp"

namespace kestrel::fuzz {

void fuzz_images_layer(FuzzFile& file) {
  const std::string_view bytes(reinterpret_cast<const char*>(file.bytes().data()), file.bytes().size());
  // Any prefix of the input is a picture as far as the sniffer knows.
  for (std::size_t n : {std::size_t{0}, std::size_t{2}, std::size_t{4}, std::size_t{10}, bytes.size()}) {
    const auto type = picture_type(bytes.substr(0, n));
    if (type) KESTREL_FUZZ_EXPECT(*type == "jpeg" || *type == "png" || *type == "gif" || *type == "bmp", *type);
  }
}

}  // namespace kestrel::fuzz
