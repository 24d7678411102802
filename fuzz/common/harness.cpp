#include "common/harness.hpp"

#include <cstring>

#include "container/text.hpp"

namespace kestrel::fuzz {

const Limits& fuzz_limits() {
  static const Limits limits = [] {
    Limits l;
    l.max_result_slack_bytes = std::int64_t{1} << 20;
    l.max_stream_bytes = std::int64_t{16} << 20;
    l.max_records = 1 << 12;
    l.max_label_bytes = std::int64_t{16} << 20;
    l.max_image_directory_passes = 4096;
    l.max_annotation_cells = 1 << 16;
    l.cells_per_file_byte = 0;
    l.max_annotation_warnings = 1 << 12;
    l.max_annotation_text_bytes = std::int64_t{16} << 20;
    l.max_annotation_description_bytes = std::int64_t{16} << 20;
    return l;
  }();
  return limits;
}

void fail(std::string_view what, std::string_view detail) {
  std::fprintf(stderr, "kestrel fuzz check failed: %.*s %.*s\n", static_cast<int>(what.size()), what.data(),
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

Choices::Choices(std::span<const std::byte> file) {
  // versionNumber (bytes 4-11), then maxDirSize (bytes 16-19)
  constexpr std::size_t kFrom[12] = {4, 5, 6, 7, 8, 9, 10, 11, 16, 17, 18, 19};
  for (std::size_t i = 0; i < 12; ++i) {
    if (kFrom[i] < file.size()) bytes_[i] = std::to_integer<std::uint8_t>(file[kFrom[i]]);
  }
}

std::uint32_t Choices::word(std::size_t i) const {
  return static_cast<std::uint32_t>(byte(i)) | static_cast<std::uint32_t>(byte(i + 1)) << 8 |
         static_cast<std::uint32_t>(byte(i + 2)) << 16 | static_cast<std::uint32_t>(byte(i + 3)) << 24;
}

void check_error(const Error& e) {
  // No default: a new error kind is a compile warning here until it has its rule.
  switch (e.kind) {
    case ErrorKind::truncated:
      // struct.error("unpack requires a buffer of N bytes") for one field
      KESTREL_FUZZ_EXPECT(e.number >= 1 && e.number <= 16, "truncated width");
      return;
    case ErrorKind::missing_key:
      KESTREL_FUZZ_EXPECT(!e.text.empty(), "missing_key without a key");
      return;
    case ErrorKind::bad_param_type:
      KESTREL_FUZZ_EXPECT((e.number < 0 || e.number > 4) && e.number >= INT16_MIN && e.number <= INT16_MAX,
                          "bad_param_type with a known or impossible code");
      return;
    case ErrorKind::value_error:
    case ErrorKind::index_error:
    case ErrorKind::type_error:
    case ErrorKind::zero_division:
    case ErrorKind::attribute_error:
    case ErrorKind::too_large:
      KESTREL_FUZZ_EXPECT(!e.text.empty(), "error without its message");
      KESTREL_FUZZ_EXPECT(is_strict_utf8(e.text), "message is not UTF-8");
      return;
    case ErrorKind::bad_utf8:
      KESTREL_FUZZ_EXPECT(!is_strict_utf8(e.text), "bad_utf8 on bytes that decode");
      return;
    case ErrorKind::bad_seek:
      KESTREL_FUZZ_EXPECT(e.number > 0, "bad_seek without an errno");
      return;
    case ErrorKind::offset_overflow:
      return;
    case ErrorKind::numpy_redo:
      KESTREL_FUZZ_EXPECT(e.number >= 0, "numpy_redo step");
      return;
    case ErrorKind::io_error:
      fail("io_error from an in-memory source");
    case ErrorKind::aborted:
      fail("aborted although the diagnostics sink never fails");
  }
  fail("error kind out of range");
}

void check_same_error(const Error& a, const Error& b) {
  KESTREL_FUZZ_EXPECT(a.kind == b.kind && a.number == b.number && a.text == b.text, "a second run failed differently");
}

}  // namespace kestrel::fuzz
