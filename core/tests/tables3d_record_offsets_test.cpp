#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "tables3d/record_offsets.hpp"
#include "tables3d_allocation_probe.hpp"

namespace kestrel {
namespace {

using Map = std::vector<std::pair<std::int64_t, WideOffset>>;

// The map built record by record, the way the table reads: the reference the
// run-based map must equal.
Map literal(const StoreTable3D& t) {
  Map out;
  std::map<std::int64_t, std::size_t> where;
  WideOffset offset = t.block_offset;
  const WideOffset stride = WideOffset{t.block_size} + t.info_size;
  for (const auto& [a, b] : t.store_table) {
    if (a == -1) {
      offset += b;
      continue;
    }
    for (std::int64_t n = a; n <= b; ++n) {
      auto [it, fresh] = where.try_emplace(n, out.size());
      if (fresh) out.emplace_back(n, offset);
      else out[it->second].second = offset;
      offset += stride;
    }
  }
  return out;
}

Map walked(const RecordOffsets& r) {
  Map out;
  for (RecordWalk w(r); w.next();) {
    EXPECT_EQ(w.index(), static_cast<std::int64_t>(out.size()));
    out.emplace_back(w.number(), w.offset());
  }
  return out;
}

StoreTable3D table(std::int64_t block_offset, std::int32_t block_size, std::int32_t info_size,
                   std::vector<StoreEntry> entries) {
  StoreTable3D t;
  t.block_offset = block_offset;
  t.block_size = block_size;
  t.info_size = info_size;
  t.number_of_entries = static_cast<std::int32_t>(entries.size());
  t.store_table = std::move(entries);
  return t;
}

struct Example {
  const char* name;
  std::vector<StoreEntry> entries;
  Map expected;
};

class OffsetsExample : public ::testing::TestWithParam<Example> {};

TEST_P(OffsetsExample, MatchesTheDictOfTheTable) {
  const auto r = RecordOffsets::build(table(1024, 400, 112, GetParam().entries));
  EXPECT_EQ(walked(r), GetParam().expected);
  EXPECT_EQ(r.count(), static_cast<std::int64_t>(GetParam().expected.size()));
  for (const auto& [n, off] : GetParam().expected) EXPECT_EQ(r.find(n), off) << n;
}

INSTANTIATE_TEST_SUITE_P(
    Tables, OffsetsExample,
    ::testing::Values(Example{"one_run", {{0, 2}}, {{0, 1024}, {1, 1536}, {2, 2048}}},
                      Example{"gap_between_runs", {{0, 0}, {-1, 100}, {5, 6}}, {{0, 1024}, {5, 1636}, {6, 2148}}},
                      Example{"empty", {}, {}},
                      Example{"single_number", {{3, 3}}, {{3, 1024}}},
                      Example{"descending_run_assigns_nothing", {{4, 2}, {7, 7}}, {{7, 1024}}},
                      Example{"negative_gap", {{0, 1}, {-1, -1024}, {5, 5}}, {{0, 1024}, {1, 1536}, {5, 1024}}},  // a gap backwards
                      Example{"duplicate_takes_later_offset", {{0, 2}, {1, 1}}, {{0, 1024}, {1, 2560}, {2, 2048}}},  // later run wins, first place kept
                      Example{"negative_numbers", {{-3, -2}}, {{-3, 1024}, {-2, 1536}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordOffsets, OverlappingRunsEqualTheLiteralMapOnRandomTables) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> len(0, 8), num(-4, 30), gap(-600, 600), kind(0, 4), stride(-3, 60);
  for (int round = 0; round < 3000; ++round) {
    std::vector<StoreEntry> entries(static_cast<std::size_t>(len(rng)));
    for (auto& e : entries) {
      const int a = num(rng);
      e = kind(rng) == 0 ? StoreEntry{-1, gap(rng)} : StoreEntry{a, a + num(rng) / 3};
    }
    const auto t = table(5000, stride(rng), 0, entries);
    const auto r = RecordOffsets::build(t);
    const Map expect = literal(t);
    ASSERT_EQ(walked(r), expect) << round;
    ASSERT_EQ(r.count(), static_cast<std::int64_t>(expect.size()));
    for (int n = -6; n < 45; ++n) {
      auto it = std::find_if(expect.begin(), expect.end(), [&](const auto& p) { return p.first == n; });
      ASSERT_EQ(r.find(n), it == expect.end() ? std::nullopt : std::optional<WideOffset>(it->second)) << round;
    }
    // Runs that read as one range really are consecutive in the file, and cover the map in order.
    std::int64_t next = 0;
    for (const RecordRun& run : r.contiguous_runs()) {
      ASSERT_EQ(run.index, next);
      for (std::int64_t k = 0; k < run.count; ++k) ASSERT_EQ(run.offset(k), expect[static_cast<std::size_t>(next + k)].second);
      next += run.count;
    }
    ASSERT_EQ(next, r.count());
    const WideOffset lo = 4000, hi = 6000;
    auto bad = std::find_if(expect.begin(), expect.end(), [&](const auto& p) { return p.second < lo || p.second > hi; });
    ASSERT_EQ(r.first_outside(lo, hi),
              bad == expect.end() ? std::nullopt : std::optional<std::int64_t>(bad - expect.begin())) << round;
  }
}

TEST(RecordOffsets, ContiguousRunsMergeAcrossZeroGapsOnly) {
  auto runs = [](std::vector<StoreEntry> e) {
    std::vector<std::pair<std::int64_t, std::int64_t>> out;
    for (const RecordRun& r : RecordOffsets::build(table(0, 16, 8, std::move(e))).contiguous_runs()) {
      out.emplace_back(r.index, r.count);
    }
    return out;
  };
  using V = std::vector<std::pair<std::int64_t, std::int64_t>>;
  EXPECT_EQ(runs({{0, 2}, {3, 5}}), (V{{0, 6}}));
  EXPECT_EQ(runs({{0, 2}, {-1, 0}, {10, 12}}), (V{{0, 6}}));
  EXPECT_EQ(runs({{0, 2}, {-1, 8}, {3, 5}}), (V{{0, 3}, {3, 3}}));
}

TEST(RecordOffsets, OneNumberPerEntryFormsOneRun) {
  const auto r = RecordOffsets::build(table(0, 4, 4, {{0, 0}, {1, 1}, {2, 2}, {-1, 8}, {3, 3}}));
  ASSERT_EQ(r.runs().size(), 2u);
  EXPECT_EQ(r.runs()[0].records.count, 3);
  EXPECT_EQ(r.runs()[1].records.first_offset, 32);
}

TEST(RecordOffsets, AWholeIntRangeRunCostsNothing) {
  testing::reset_largest_allocation();
  const auto r = RecordOffsets::build(table(100, 8, 0, {{0, INT32_MAX}, {INT32_MIN, -1}}));
  EXPECT_LT(testing::largest_allocation(), std::size_t{1} << 12);
  EXPECT_EQ(r.count(), std::int64_t{1} << 32);
  EXPECT_EQ(r.runs().size(), 2u);
  EXPECT_EQ(r.find(INT32_MAX), WideOffset{100} + WideOffset{INT32_MAX} * 8);
  EXPECT_EQ(r.find(INT32_MIN), WideOffset{100} + (WideOffset{1} << 31) * 8);
  // A reader of a 1 MiB file needing 8 bytes per record stops at record 131059.
  EXPECT_EQ(r.first_outside(0, (1 << 20) - 8), ((1 << 20) - 8 - 100) / 8 + 1);
  RecordWalk w(r);
  ASSERT_TRUE(w.next());
  EXPECT_EQ(w.number(), 0);
}

TEST(RecordOffsets, OverlapsOfHugeRunsStaySmall) {
  testing::reset_largest_allocation();
  const auto r = RecordOffsets::build(table(0, 4, 0, {{0, INT32_MAX}, {-5, 10}, {0, INT32_MAX}}));
  EXPECT_LT(testing::largest_allocation(), std::size_t{1} << 12);
  EXPECT_EQ(r.count(), (std::int64_t{1} << 31) + 5);
  EXPECT_LE(r.runs().size(), 3u);
  const WideOffset second_start = (WideOffset{1} << 31) * 4;
  EXPECT_EQ(r.find(-5), second_start);
  EXPECT_EQ(r.find(0), second_start + 16 * 4);  // the third run wins
  EXPECT_EQ(r.find(10), second_start + 16 * 4 + 40);
}

TEST(RecordOffsets, OffsetsPast64BitsFailOnlyWhenTheyAreReached) {
  // Strides of 2**32 - 2 over 2**31 records pass 2**63 midway through the second run.
  const auto r = RecordOffsets::build(table(0, INT32_MAX, INT32_MAX, {{0, INT32_MAX}, {-1, 0}, {INT32_MIN, -1}}));
  RecordWalk w(r);
  ASSERT_TRUE(w.next());
  EXPECT_EQ(file_offset(w.offset()).value(), 0);
  const auto last = r.find(-1);
  ASSERT_TRUE(last.has_value());
  const auto narrowed = file_offset(*last);
  ASSERT_FALSE(narrowed.ok());
  EXPECT_EQ(narrowed.error().kind, ErrorKind::offset_overflow);
  EXPECT_EQ(r.first_outside(0, INT64_MAX), std::optional<std::int64_t>((INT64_MAX / (std::int64_t{UINT32_MAX} - 1)) + 1));
  EXPECT_FALSE(file_offset(WideOffset{INT64_MIN} - 1).ok());
  EXPECT_EQ(file_offset(-8).value(), -8);
}

}  // namespace
}  // namespace kestrel
