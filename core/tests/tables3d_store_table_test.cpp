#include <gtest/gtest.h>

#include "io/memory_source.hpp"
#include "tables3d/store_table.hpp"
#include "tables3d_allocation_probe.hpp"
#include "tables3d_bytes.hpp"

namespace kestrel {
namespace {

using testing::Bytes;

Bytes table_at(std::size_t at, std::int32_t stored_offset, std::int32_t count,
               const std::vector<StoreEntry>& entries) {
  Bytes b;
  b.zeros(at).i32(7).i32(6).i32(stored_offset).i32(400).i32(112).i32(count);
  for (const auto& [first, second] : entries) b.i32(first).i32(second);
  return b;
}

TEST(StoreTable, ReadsFieldsAndMakesTheBlockOffsetAbsolute) {
  const std::vector<StoreEntry> entries{{0, 2}, {-1, 512}, {0, 2}, {5, 5}};
  const Bytes b = table_at(1000, 24, 4, entries);
  MemorySource src(b.data());
  Cursor c(src);
  auto t = read_store_table(c, 1000);
  ASSERT_TRUE(t.ok());
  EXPECT_EQ(t.value(), (StoreTable3D{7, 6, 1024, 400, 112, 4, entries}));
  EXPECT_EQ(c.tell(), static_cast<std::int64_t>(b.size()));
}

TEST(StoreTable, ZeroOrNegativeCountReadsNoEntries) {
  for (const std::int32_t count : {0, -1, INT32_MIN}) {
    const Bytes b = table_at(0, 24, count, {{1, 2}});
    MemorySource src(b.data());
    Cursor c(src);
    auto t = read_store_table(c, 0);
    ASSERT_TRUE(t.ok());
    EXPECT_EQ(t.value().number_of_entries, count);
    EXPECT_TRUE(t.value().store_table.empty());
    EXPECT_EQ(c.tell(), 24);
  }
}

TEST(StoreTable, EveryCutFailsAsAShortIntReadAtTheEndOfTheFile) {
  const Bytes whole = table_at(8, 24, 2, {{0, 1}, {-1, 4}});
  for (std::size_t cut = 8; cut < whole.size(); ++cut) {
    std::vector<std::byte> part(whole.data().begin(), whole.data().begin() + static_cast<std::ptrdiff_t>(cut));
    MemorySource src(part);
    Cursor c(src);
    auto t = read_store_table(c, 8);
    ASSERT_FALSE(t.ok()) << cut;
    EXPECT_EQ(t.error().kind, ErrorKind::truncated);
    EXPECT_EQ(t.error().number, 4);
    EXPECT_EQ(c.tell(), static_cast<std::int64_t>(cut));
  }
}

TEST(StoreTable, HugeCountStopsAtTheFirstMissingEntry) {
  const Bytes b = table_at(0, 24, INT32_MAX, {{0, 9}, {10, 19}, {20, 29}});
  MemorySource src(b.data());
  Cursor c(src);
  testing::reset_largest_allocation();
  auto t = read_store_table(c, 0);
  EXPECT_LT(testing::largest_allocation(), std::size_t{1} << 16);
  ASSERT_FALSE(t.ok());
  EXPECT_EQ(t.error().kind, ErrorKind::truncated);
}

}  // namespace
}  // namespace kestrel
