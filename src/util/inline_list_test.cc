#include "util/inline_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "util/debug_text.h"
#include "util/failure.h"

namespace vardelic::util {
namespace {

using List = InlineList<int, 4>;

std::vector<int> items(const List& list) { return std::vector<int>(list.begin(), list.end()); }

TEST(InlineList, IsAPlainValueWithoutHeapMemory) {
  static_assert(std::is_trivially_copyable_v<List>);
  static_assert(std::is_trivially_copyable_v<InlineList<std::uint16_t, 54>>);
  static_assert(sizeof(InlineList<std::uint8_t, 8>) <= 9);
  static_assert(List::capacity() == 4);
  List a{1, 2};
  List b = a;
  b.push_back(3);
  EXPECT_EQ(items(a), (std::vector<int>{1, 2}));
  EXPECT_EQ(items(b), (std::vector<int>{1, 2, 3}));
}

TEST(InlineList, PushUpToTheCapacity) {
  List list;
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(list.full());
  for (int i = 0; i < 4; ++i) list.push_back(i * 10);
  EXPECT_TRUE(list.full());
  EXPECT_EQ(list.size(), 4u);
  EXPECT_EQ(list.back(), 30);
  EXPECT_EQ(list[1], 10);
  list.pop_back();
  EXPECT_EQ(items(list), (std::vector<int>{0, 10, 20}));
  list.clear();
  EXPECT_TRUE(list.empty());
}

TEST(InlineList, GoingBeyondTheCapacityFailsAndChangesNothing) {
  List list{1, 2, 3, 4};
  EXPECT_THROW(list.push_back(5), Failure);
  EXPECT_THROW(list.insert(0, 5), Failure);
  EXPECT_EQ(items(list), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_THROW((List{1, 2, 3, 4, 5}), Failure);
  EXPECT_THROW(List::from_range(std::vector<int>{1, 2, 3, 4, 5}), Failure);
}

TEST(InlineList, InsertAndErase) {
  struct Case {
    std::vector<int> start;
    std::size_t index;
    std::vector<int> inserted;
  };
  for (const Case& c : {Case{{}, 0, {9}}, Case{{1, 2, 3}, 0, {9, 1, 2, 3}},
                        Case{{1, 2, 3}, 1, {1, 9, 2, 3}}, Case{{1, 2, 3}, 3, {1, 2, 3, 9}}}) {
    List list = List::from_range(c.start);
    list.insert(c.index, 9);
    EXPECT_EQ(items(list), c.inserted);
    list.erase(c.index);
    EXPECT_EQ(items(list), c.start);
  }
  List list{1, 2, 3, 4};
  list.erase(3);
  EXPECT_EQ(items(list), (std::vector<int>{1, 2, 3}));
  list.erase(0);
  EXPECT_EQ(items(list), (std::vector<int>{2, 3}));
}

TEST(InlineList, EqualityLooksAtTheElementsInUseOnly) {
  List a{1, 2, 3};
  a.pop_back();
  List b{1, 2};
  EXPECT_EQ(a, b);
  EXPECT_FALSE(a == (List{2, 1}));
  EXPECT_FALSE(a == (List{1, 2, 3}));
  EXPECT_FALSE(a == (List{1}));
  EXPECT_EQ(List{}, List{});
}

TEST(InlineList, DebugTextIsTheListForm) {
  EXPECT_EQ(debug_text(List{}), "[]");
  EXPECT_EQ(debug_text(List{1, -2, 3}), "[1, -2, 3]");
  EXPECT_EQ(debug_text(List{7}, true), "[\n    7,\n]");
  EXPECT_EQ(debug_text(List{}, true), "[]");
}

}  // namespace
}  // namespace vardelic::util
