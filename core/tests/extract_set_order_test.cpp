// Regions are visited in the order a Python set of their numbers iterates;
// these orders are the interpreter's own for the same inserts.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "extract/set_order.hpp"

namespace kestrel {
namespace {

struct SetCase {
  std::vector<std::int64_t> inserted;
  std::vector<std::int64_t> iterated;
};

class SetOrder : public ::testing::TestWithParam<SetCase> {};

TEST_P(SetOrder, MatchesTheInterpreter) {
  const SetCase& c = GetParam();
  std::vector<std::int64_t> got;
  for (const std::size_t k : set_iteration_order(c.inserted)) got.push_back(c.inserted[k]);
  EXPECT_EQ(got, c.iterated);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SetOrder,
    ::testing::Values(
        SetCase{{}, {}}, SetCase{{3, 1, 2}, {1, 2, 3}},
        SetCase{{9, 1, 17}, {9, 1, 17}},                // 9 and 17 collide in eight slots; 1 probes past
        SetCase{{-1, -2, 5, 8}, {8, 5, -1, -2}},         // hash(-1) is -2: two keys, one hash
        SetCase{{100, 7, 2147483647, -2147483648, 0, 64, 8, 16},  // grows twice
                {-2147483648, 0, 64, 100, 7, 8, 16, 2147483647}},
        SetCase{{40, 37, 34, 31, 28, 25, 22, 19, 16, 13, 10, 7, 4, 1},
                {1, 34, 4, 37, 7, 40, 10, 13, 16, 19, 22, 25, 28, 31}}));

}  // namespace
}  // namespace kestrel
