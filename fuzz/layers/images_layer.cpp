// Pictures: the image block's picture directory, each picture's bytes, and the
// naming of a picture's type from its first bytes.
#include "common/harness.hpp"
#include "images/picture_type.hpp"
#include "images/vis_images.hpp"

namespace kestrel::fuzz {

namespace {

void check_type(std::optional<std::string_view> type) {
  if (type) KESTREL_FUZZ_EXPECT(*type == "jpeg" || *type == "png" || *type == "gif" || *type == "bmp", *type);
}

}  // namespace

void fuzz_images_layer(FuzzFile& file) {
  const std::string_view bytes(reinterpret_cast<const char*>(file.bytes().data()), file.bytes().size());
  // Any prefix of the input is a picture as far as the sniffer knows.
  for (std::size_t n : {std::size_t{0}, std::size_t{2}, std::size_t{4}, std::size_t{10}, bytes.size()}) {
    check_type(picture_type(bytes.substr(0, n)));
  }

  Cursor cursor = file.open();
  const Result<std::vector<Picture>> pictures = read_vis_images(cursor, fuzz_limits());
  if (!check(pictures)) return;
  for (const Picture& picture : pictures.value()) {
    if (!picture.data) continue;
    KESTREL_FUZZ_EXPECT(picture.data->bytes != nullptr, "picture data without bytes");
    const std::string& image = *picture.data->bytes;
    KESTREL_FUZZ_EXPECT(static_cast<std::int64_t>(image.size()) <= file.size(), "picture larger than the file");
    KESTREL_FUZZ_EXPECT(picture.data->type == picture_type(image), "imgext is not the type of the bytes");
    check_type(picture.data->type);
  }
  // A second reading gives the same pictures.
  Cursor again = file.open();
  const Result<std::vector<Picture>> second = read_vis_images(again, fuzz_limits());
  KESTREL_FUZZ_EXPECT(second.ok() && second.value().size() == pictures.value().size(), "second reading differs");
}

}  // namespace kestrel::fuzz
