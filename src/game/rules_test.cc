#include "game/rules.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>

#include "testing/game_testing.h"

namespace vardelic::game {
namespace {

using testing::hand;

TEST(Rules, WhatAnAttackDoes) {
  Enemy clubs_jack = testing::enemy("CJ");
  // The enemy's own suit has no power until a jester was played against it.
  SuitPowers p = suit_powers(hand("C5 S3"), &clubs_jack);
  EXPECT_FALSE(p.clubs);
  EXPECT_TRUE(p.spades);
  EXPECT_EQ(attack_damage(8, p), 8);
  clubs_jack.apply_jester();
  p = suit_powers(hand("C5 S3"), &clubs_jack);
  EXPECT_TRUE(p.clubs);
  EXPECT_EQ(attack_damage(8, p), 16);
  EXPECT_TRUE(suit_powers(hand("H2"), nullptr).hearts);

  EXPECT_FALSE(kills(20, 19));
  EXPECT_TRUE(kills(20, 20) && kills_exactly(20, 20));
  EXPECT_TRUE(kills(20, 21) && !kills_exactly(20, 21));
  EXPECT_TRUE(pays_counter_attack(10, 10));
  EXPECT_FALSE(pays_counter_attack(9, 10));
}

TEST(Rules, DiamondsDealFromPlayerKToTheFirstHandWithRoom) {
  std::array<std::size_t, 3> sizes = {5, 6, 4};  // limit 6: player 1 is full
  auto size = [&sizes](std::size_t i) { return sizes[i]; };
  EXPECT_EQ(diamonds_receiver(0, 3, 6, size), 0u);
  EXPECT_EQ(diamonds_receiver(1, 3, 6, size), 2u);
  EXPECT_EQ(diamonds_receiver(5, 3, 6, size), 2u);
  sizes = {6, 6, 6};
  EXPECT_EQ(diamonds_receiver(0, 3, 6, size), 3u);
}

TEST(Rules, SubsetWorthsSumEveryMask) {
  const Hand h = hand("SA H5 D10 CK Jester");
  std::array<std::uint16_t, 256> worth{};
  subset_worths(h, worth);
  for (unsigned mask = 0; mask < 32; ++mask) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < h.size(); ++i) {
      if (mask >> i & 1u) sum = static_cast<std::uint16_t>(sum + h[i].attack_value());
    }
    EXPECT_EQ(worth[mask], sum) << mask;
  }
}

}  // namespace
}  // namespace vardelic::game
