#include "params/value.hpp"

#include <gtest/gtest.h>

#include <string>

namespace kestrel {
namespace {

std::int64_t number_at(const ParamList& list, std::string_view key) {
  const ParamValue* v = list.find(key);
  return v == nullptr ? -1 : std::get<std::int64_t>(*v);
}

// Keys of every length the index treats apart (under 4 bytes, 4 to 8, longer),
// names that share their first and last four bytes, and enough of them that
// the index grows several times: each keeps its first position and last value.
TEST(ParamList, KeysKeepTheirOrderAndLastValueAsTheIndexGrows) {
  std::vector<std::string> keys = {"", "A", "AB", "NPT", "FXV", "ABCDXABCD", "ABCDYABCD", "ABCDABCD", "ABCDEFGHIJ"};
  for (int i = 0; i < 300; ++i) keys.push_back("K" + std::to_string(i));
  ParamList list;
  for (std::size_t i = 0; i < keys.size(); ++i) list.set(keys[i], static_cast<std::int64_t>(i));
  for (std::size_t i = 0; i < keys.size(); i += 2) list.set(keys[i], static_cast<std::int64_t>(1000 + i));
  ASSERT_EQ(list.size(), keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(list.items()[i].first, keys[i]);
    EXPECT_EQ(number_at(list, keys[i]), static_cast<std::int64_t>(i % 2 ? i : 1000 + i)) << keys[i];
  }
  EXPECT_EQ(list.find("ABCDZABCD"), nullptr);
  EXPECT_EQ(list.find("K300"), nullptr);
}

TEST(ParamList, CopiesAndUpdatesKeepTheirOwnIndex) {
  ParamList a;
  a.set("NPT", std::int64_t{1});
  ParamList b = a;
  b.set("NPT", std::int64_t{2});
  b.set("FXV", std::int64_t{3});
  a.update(b);
  EXPECT_EQ(number_at(a, "NPT"), 2);
  EXPECT_EQ(number_at(a, "FXV"), 3);
  EXPECT_EQ(ParamList().find("NPT"), nullptr);
}

}  // namespace
}  // namespace kestrel
