// The picture walk where Python cannot reach: suffixes far out, sums beyond
// 64 bits, and the cap on what a hostile image block can make us hold.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <variant>
#include <vector>

#include "images/picture_suffix.hpp"
#include "images/scan_arithmetic.hpp"
#include "images/vis_images.hpp"
#include "io/memory_source.hpp"

namespace kestrel {
namespace {

TEST(PictureSuffix, CountsDigitsThenLetters) {
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {0, "00"},  {7, "07"},   {99, "99"},   {100, "AA"},  {125, "AZ"},        {126, "BA"},
      {775, "ZZ"}, {776, "AAA"}, {-1, "-1"}, {-10, "-10"}, {2147483646, "FXSHRVA"}};
  for (const auto& [n, suffix] : cases) EXPECT_EQ(picture_suffix(n), suffix) << n;
  EXPECT_EQ(letter_code(0), "A");
  EXPECT_EQ(letter_code(701), "ZZ");
  EXPECT_EQ(letter_code(702), "AAA");
  EXPECT_EQ(letter_code(std::numeric_limits<std::int64_t>::max()).size(), 14u);
}

TEST(ScanNumber, IntsNeverWrap) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const ScanNumber past = ScanNumber(kMax).plus(ParamValue{std::int64_t{1}}).value();
  EXPECT_EQ(past.position().error().kind, ErrorKind::offset_overflow);
  EXPECT_FALSE(past.equals(std::numeric_limits<std::int64_t>::min()));
  // Back inside 64 bits the sum is exact again, as an unbounded int would be.
  const ScanNumber back = past.plus(ParamValue{std::int64_t{-2}}).value();
  EXPECT_EQ(back.position().value(), kMax - 1);
}

TEST(ScanNumber, FloatsCompareExactlyAndRefuseToSeek) {
  const ScanNumber half = ScanNumber(5).plus(ParamValue{2.5}).value();
  EXPECT_FALSE(half.equals(7));
  EXPECT_EQ(half.position().error().kind, ErrorKind::type_error);
  EXPECT_TRUE(ScanNumber(5).plus(ParamValue{2.0}).value().equals(7));
  EXPECT_FALSE(ScanNumber(0).plus(ParamValue{9.3e18}).value().equals(std::numeric_limits<std::int64_t>::max()));
  EXPECT_EQ(ScanNumber(1).plus(ParamValue{std::string("x")}).error().text,
            "unsupported operand type(s) for +: 'int' and 'str'");
}

using Entry = std::pair<std::string, std::variant<std::int32_t, std::string>>;

void append_le16(std::string& out, std::int16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

// A parameter block: int entries (type 0) and text entries (type 2), then END.
// Its length depends on the texts only, never on the int values.
std::string param_block(const std::vector<Entry>& entries) {
  std::string out;
  for (const auto& [key, value] : entries) {
    std::string name = key;
    name.resize(4, '\0');
    out += name;
    if (const auto* i = std::get_if<std::int32_t>(&value)) {
      append_le16(out, 0);
      append_le16(out, 2);
      for (int b = 0; b < 4; ++b) out.push_back(static_cast<char>((static_cast<std::uint32_t>(*i) >> (8 * b)) & 0xFF));
    } else {
      std::string text = std::get<std::string>(value) + '\0';
      text.resize(text.size() + text.size() % 2, '\0');
      append_le16(out, 2);
      append_le16(out, static_cast<std::int16_t>(text.size() / 2));
      out += text;
    }
  }
  return out + std::string("END\0\0\0\0\0", 8);
}

// An image block of n pictures whose "Bytes" -1 reads from the picture's data
// to the end of the file, over a payload at the end. With one record shared by
// all pictures they read the same bytes; with a record each, n different runs.
std::vector<std::byte> pictures_reading_to_end(int n, std::size_t payload, bool shared) {
  std::vector<Entry> dir = {{"BID", 20 << 19}, {"NRP", n}};
  for (int i = 0; i < n; ++i) {
    dir.push_back({picture_key('F', i), 0});
    dir.push_back({picture_key('Z', i), 0});
  }
  std::vector<Entry> pic = {{"SIZ", 0}, {"T00", 9},         {"F00", 0}, {"H01", "Bytes:"},
                            {"V01", -1}, {"H02", "Type"}, {"V02", 0}};
  const auto record_size = static_cast<std::int32_t>(param_block(pic).size());
  pic[0].second = record_size;
  const auto first_record = static_cast<std::int32_t>(param_block(dir).size());
  for (int i = 0; i < n; ++i) {
    dir[2 + 2 * static_cast<std::size_t>(i)].second = first_record + (shared ? 0 : i * record_size);
    dir[3 + 2 * static_cast<std::size_t>(i)].second = record_size;
  }
  std::string bytes = param_block(dir);
  for (int i = 0; i < (shared ? 1 : n); ++i) bytes += param_block(pic);
  bytes += std::string(payload, 'x');
  std::vector<std::byte> out(bytes.size());
  std::memcpy(out.data(), bytes.data(), bytes.size());
  return out;
}

TEST(ReadPictures, BytesReadOnceAndCapped) {
  Limits tight;
  tight.max_result_slack_bytes = 1 << 20;  // 40 different runs of 64 KiB need 2.5 MiB
  for (const bool shared : {true, false}) {
    const std::vector<std::byte> file = pictures_reading_to_end(40, 1 << 16, shared);
    MemorySource source(file);
    const DirectoryEntry block{{0, 0, 0, 0, 0, 20}, static_cast<std::int64_t>(file.size() / 4), 0};
    Cursor cursor(source);
    auto pictures = read_pictures(cursor, block);
    ASSERT_TRUE(pictures.ok()) << pictures.error().text;
    ASSERT_EQ(pictures.value().size(), 40u);
    EXPECT_EQ(pictures.value()[39].data->bytes->size() == std::size_t{1} << 16, true);
    EXPECT_EQ(pictures.value()[0].data->bytes->size() > pictures.value()[39].data->bytes->size(), !shared);
    EXPECT_EQ(pictures.value()[0].data->bytes == pictures.value()[39].data->bytes, shared);

    Cursor again(source);
    auto capped = read_pictures(again, block, tight);
    EXPECT_EQ(capped.ok(), shared);
    if (!shared) {
      EXPECT_EQ(capped.error().kind, ErrorKind::too_large);
    }
  }
}

}  // namespace
}  // namespace kestrel
