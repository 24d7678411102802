#include <gtest/gtest.h>

#include <chrono>

#include "container/block_type.hpp"
#include "container/directory.hpp"
#include "container/text.hpp"
#include "test_support.hpp"

namespace kestrel {
namespace {

using testing::Bytes;

TEST(BlockType, DecodesSignedWords) {
  EXPECT_EQ(decode_block_type(0), (BlockType{0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(decode_block_type(4111), (BlockType{3, 3, 0, 4, 0, 0}));
  EXPECT_EQ(decode_block_type(-1), (BlockType{3, 3, 63, 127, 3, 127}));
  EXPECT_EQ(decode_block_type(std::int64_t{10} << 19)[EXTEND_TYPE], 10);
}

Bytes header(std::int32_t dir_offset, std::int32_t dir_size) {
  Bytes b;
  b.u8({0x0A, 0x0A, 0xFE, 0xFE}).le(920622.0).le(dir_offset).le(std::int32_t{40}).le(dir_size);
  return b;
}

TEST(Directory, HostileCountFailsAtTheEndOfTheFile) {
  Bytes b = header(24, INT32_MAX);
  b.zeros(100 - b.size());
  auto src = b.source();
  Cursor c(src);
  const auto start = std::chrono::steady_clock::now();
  auto r = read_directory(c);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, ErrorKind::truncated);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(Directory, ExtensionCountIsBoundedByTheFile) {
  Bytes b = header(24, 1);
  b.le(static_cast<std::int32_t>(64 << 19)).le(std::int32_t{4}).le(std::int32_t{36});
  b.le(std::int64_t{INT64_MAX}).le(std::int64_t{0});
  b.zeros(64);
  auto src = b.source();
  Cursor c(src);
  auto r = read_directory(c);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, ErrorKind::truncated);
  EXPECT_EQ(r.error().number, 8);
}

TEST(Directory, NegativeDirectoryOffsetIsASeekError) {
  auto src = header(-5, 1).source();
  Cursor c(src);
  auto r = read_directory(c);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, ErrorKind::bad_seek);
}

struct Utf8Case {
  const char* bytes;
  bool valid;
};

class StrictUtf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(StrictUtf8, AgreesWithAStrictDecoder) {
  EXPECT_EQ(is_strict_utf8(GetParam().bytes), GetParam().valid) << GetParam().bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, StrictUtf8,
    ::testing::Values(Utf8Case{"abc", true}, Utf8Case{"\xC3\xA9", true}, Utf8Case{"\xC0\x80", false},
                      Utf8Case{"\xC1\xBF", false}, Utf8Case{"\xE0\x80\x80", false}, Utf8Case{"\xE0\xA0\x80", true},
                      Utf8Case{"\xED\x9F\xBF", true}, Utf8Case{"\xED\xA0\x80", false},
                      Utf8Case{"\xF0\x8F\xBF\xBF", false}, Utf8Case{"\xF0\x90\x80\x80", true},
                      Utf8Case{"\xF4\x8F\xBF\xBF", true}, Utf8Case{"\xF4\x90\x80\x80", false},
                      Utf8Case{"\xF5\x80\x80\x80", false}, Utf8Case{"\xE9", false}, Utf8Case{"\xC3", false}));

TEST(DecodeText, FallsBackToLatin1) {
  EXPECT_EQ(decode_text("\xE9"), "\xC3\xA9");
  EXPECT_EQ(decode_text("\xC3\xA9"), "\xC3\xA9");
  EXPECT_EQ(decode_text(std::string_view("a\0b", 3)), std::string("a\0b", 3));
}

}  // namespace
}  // namespace kestrel
