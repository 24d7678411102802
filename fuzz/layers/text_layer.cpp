// Stored text: the decoding of bytes of unknown encoding.
#include "common/harness.hpp"
#include "container/text.hpp"

namespace kestrel::fuzz {

void fuzz_text_layer(FuzzFile& file) {
  const std::string_view bytes(reinterpret_cast<const char*>(file.bytes().data()), file.bytes().size());
  const std::string text = decode_text(bytes);
  KESTREL_FUZZ_EXPECT(is_strict_utf8(text), "decoded text is not UTF-8");
  if (is_strict_utf8(bytes)) {
    KESTREL_FUZZ_EXPECT(text == bytes, "valid UTF-8 changed by decoding");
  } else {
    // Latin-1: every byte is one character, two UTF-8 bytes from 0x80 on.
    std::size_t expected = 0;
    for (const char ch : bytes) expected += static_cast<unsigned char>(ch) < 0x80 ? 1 : 2;
    KESTREL_FUZZ_EXPECT(text.size() == expected, "Latin-1 decoding has the wrong length");
  }
  const std::string_view cut = before_nul(bytes);
  KESTREL_FUZZ_EXPECT(cut.find('\0') == std::string_view::npos && bytes.starts_with(cut), "before_nul");
}

}  // namespace kestrel::fuzz
