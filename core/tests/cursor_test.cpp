#include "io/cursor.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace kestrel {
namespace {

using testing::Bytes;

TEST(Cursor, FieldsAreLittleEndianAndSigned) {
  auto src = Bytes().u8({0xFE, 0xFF}).u8({0xFF, 0xFF, 0xFF, 0xFF}).u8({0, 0, 0x80, 0x3F})
                 .u8({0, 0, 0, 0, 0, 0, 0xF0, 0x3F}).source();
  Cursor c(src);
  EXPECT_EQ(c.read_i16().value(), -2);
  EXPECT_EQ(c.read_i32().value(), -1);
  EXPECT_EQ(c.read_f32().value(), 1.0f);
  EXPECT_EQ(c.read_f64().value(), 1.0);
  EXPECT_EQ(c.tell(), 18);
}

TEST(Cursor, ShortFieldReadConsumesWhatIsThereAndReportsWidth) {
  auto src = Bytes().u8({1, 2, 3}).source();
  Cursor c(src);
  auto r = c.read_i32();
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, ErrorKind::truncated);
  EXPECT_EQ(r.error().number, 4);
  EXPECT_EQ(c.tell(), 3);
}

TEST(Cursor, SeekPastEndIsAllowedAndReadsNothing) {
  auto src = Bytes().zeros(8).source();
  Cursor c(src);
  ASSERT_TRUE(c.seek(100));
  EXPECT_EQ(c.read(4).value(), "");
  EXPECT_EQ(c.tell(), 100);
  EXPECT_FALSE(c.read_i16());
  EXPECT_EQ(c.tell(), 100);
}

TEST(Cursor, SeekBeforeStartFailsLikeTheFileObject) {
  auto src = Bytes().zeros(8).source();
  Cursor c(src);
  auto r = c.seek(-1);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, ErrorKind::bad_seek);
  ASSERT_TRUE(c.seek(4));
  EXPECT_FALSE(c.seek_relative(-5));
  EXPECT_EQ(c.tell(), 4);
}

TEST(Cursor, RelativeSeekOverflowIsAnError) {
  auto src = Bytes().zeros(8).source();
  Cursor c(src);
  ASSERT_TRUE(c.seek(INT64_MAX - 1));
  auto r = c.seek_relative(10);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, ErrorKind::offset_overflow);
}

TEST(Cursor, ReadNegativeCountReadsToEnd) {
  auto src = Bytes().text("abcdef").source();
  Cursor c(src);
  ASSERT_TRUE(c.seek(2));
  EXPECT_EQ(c.read(-2).value(), "cdef");
  EXPECT_EQ(c.tell(), 6);
}

TEST(Cursor, FloatsBehaveLikeFromfile) {
  auto src = Bytes().le(1.0f).le(2.0f).u8({9, 9}).source();
  Cursor c(src);
  float out[3] = {0, 0, 0};
  // Two whole values and two stray bytes: a short read consumes the stray bytes too.
  EXPECT_EQ(c.read_floats(out, 3).value(), 2);
  EXPECT_EQ(out[1], 2.0f);
  EXPECT_EQ(c.tell(), 10);
  ASSERT_TRUE(c.seek(0));
  EXPECT_EQ(c.read_floats(out, 1).value(), 1);
  EXPECT_EQ(c.tell(), 4);
  ASSERT_TRUE(c.seek(50));
  EXPECT_EQ(c.read_floats(out, 3).value(), 0);
  EXPECT_EQ(c.tell(), 50);
}

TEST(Cursor, WindowedReadsSeeBytesAcrossWindowBoundaries) {
  Bytes b;
  for (int i = 0; i < 3000; ++i) b.le(static_cast<std::int32_t>(i));
  auto src = b.source();
  Cursor c(src);
  ASSERT_TRUE(c.seek(4094));  // a field straddling the first window's end
  auto v = c.read_i32();
  ASSERT_TRUE(v);
  ASSERT_TRUE(c.seek(4 * 2999));
  EXPECT_EQ(c.read_i32().value(), 2999);
  ASSERT_TRUE(c.seek(4 * 1000));
  EXPECT_EQ(c.read_i32().value(), 1000);
}

}  // namespace
}  // namespace kestrel
