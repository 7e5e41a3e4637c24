#include "search/small_vector.h"

#include <gtest/gtest.h>

#include <vector>

namespace vardelic::search {
namespace {

TEST(SmallVector, KeepsInlineThenSpillsPreservingElements) {
  // Elements that own heap memory, so a lost or doubly released element shows.
  SmallVector<std::vector<int>, 4> list;
  for (int i = 0; i < 4; ++i) list.push_back(std::vector<int>(3, i));
  EXPECT_FALSE(list.on_heap());
  for (int i = 4; i < 100; ++i) list.emplace_back(3, i);
  EXPECT_TRUE(list.on_heap());
  ASSERT_EQ(list.size(), 100u);
  int expected = 0;
  for (const std::vector<int>& item : list) EXPECT_EQ(item, std::vector<int>(3, expected++));
  EXPECT_EQ(list.back(), std::vector<int>(3, 99));
  list.clear();
  EXPECT_TRUE(list.empty());
  list.push_back({7});
  EXPECT_EQ(list[0], std::vector<int>{7});
}

TEST(SmallVector, SixtyFourPointersStayInline) {
  SmallVector<const int*, 64> list;
  const int value = 0;
  for (int i = 0; i < 64; ++i) list.push_back(&value);
  EXPECT_FALSE(list.on_heap());
  list.push_back(&value);
  EXPECT_TRUE(list.on_heap());
  EXPECT_EQ(list.size(), 65u);
}

}  // namespace
}  // namespace vardelic::search
