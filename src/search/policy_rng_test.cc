#include "search/policy_rng.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace vardelic::search {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

int select_index(PolicyRng& rng, const std::vector<double>& keys) {
  const double* chosen = rng.select_by_key(keys, [](double key) { return key; });
  return chosen == nullptr ? -1 : static_cast<int>(chosen - keys.data());
}

TEST(PolicyRng, XorshiftFromTheFixedWords) {
  PolicyRng rng;
  // x=1, y=2, z=3, w=4: t = 1 ^ (1 << 11) = 2049; w = 4 ^ (4 >> 19) ^ (2049 ^ (2049 >> 8)).
  EXPECT_EQ(rng.next_u32(), 2061u);
  PolicyRng again;
  again.next_u32();
  for (int i = 0; i < 100; ++i) EXPECT_EQ(rng.next_u32(), again.next_u32());
}

struct TieCase {
  std::vector<double> keys;
  std::vector<int> tied;  // indices that share the highest key
};

class SelectByKeyTies : public ::testing::TestWithParam<TieCase> {};

TEST_P(SelectByKeyTies, EachTiedElementIsChosenEquallyOften) {
  const TieCase& c = GetParam();
  PolicyRng rng;
  constexpr int kTrials = 30000;
  std::vector<int> counts(c.keys.size(), 0);
  for (int i = 0; i < kTrials; ++i) {
    const int index = select_index(rng, c.keys);
    ASSERT_GE(index, 0);
    ++counts[index];
  }
  const double expected = static_cast<double>(kTrials) / static_cast<double>(c.tied.size());
  // Five standard deviations of a binomial count.
  const double p = 1.0 / static_cast<double>(c.tied.size());
  const double bound = 5 * std::sqrt(kTrials * p * (1 - p));
  int tied_total = 0;
  for (int index : c.tied) {
    EXPECT_NEAR(counts[index], expected, bound) << "index " << index;
    tied_total += counts[index];
  }
  EXPECT_EQ(tied_total, kTrials) << "only tied elements are ever chosen";
}

INSTANTIATE_TEST_SUITE_P(Keys, SelectByKeyTies,
                         ::testing::Values(TieCase{{1, 3, 3, 2}, {1, 2}},
                                           TieCase{{kInf, kInf, kInf}, {0, 1, 2}},
                                           TieCase{{4, kNaN, 4, 4, 1}, {0, 2, 3}},
                                           TieCase{{-kInf, -kInf}, {0, 1}}),
                         [](const ::testing::TestParamInfo<TieCase>& info) {
                           return "Case" + std::to_string(info.index);
                         });

TEST(PolicyRng, SelectByKeyEdgeCases) {
  struct Case {
    std::vector<double> keys;
    int expected;
  };
  const std::vector<Case> cases = {
      {{}, -1},     {{kNaN}, -1},   {{kNaN, 5}, 1}, {{5, kNaN}, 0},
      {{-kInf}, 0}, {{1, 2, 3}, 2}, {{3, 2, 1}, 0},
  };
  for (const Case& c : cases) {
    PolicyRng rng;
    EXPECT_EQ(select_index(rng, c.keys), c.expected) << ::testing::PrintToString(c.keys);
    // No tie, so no draw: the generator is still at its first output.
    EXPECT_EQ(rng.next_u32(), PolicyRng().next_u32());
  }
}

TEST(PolicyRng, SameChoicesFromTheSameSeed) {
  const std::vector<double> keys = {1, 3, 3, 2, 3};
  PolicyRng first;
  PolicyRng second;
  std::vector<int> a;
  std::vector<int> b;
  for (int i = 0; i < 200; ++i) {
    a.push_back(select_index(first, keys));
    b.push_back(select_index(second, keys));
  }
  EXPECT_EQ(a, b);
}

}  // namespace
}  // namespace vardelic::search
