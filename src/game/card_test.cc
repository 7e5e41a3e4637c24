#include "game/card.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unordered_set>
#include <vector>

#include "game/enemy.h"
#include "testing/game_testing.h"
#include "util/debug_text.h"
#include "util/failure.h"

namespace vardelic::game {
namespace {

using testing::card;
using testing::card_vector;
using testing::enemy;

TEST(Card, AttackValueDependsOnTheValueOnly) {
  const std::vector<std::pair<CardValue, int>> cases = {
      {CardValue::Jester, 0}, {CardValue::Ace, 1},   {CardValue::Two, 2},  {CardValue::Three, 3},
      {CardValue::Four, 4},   {CardValue::Five, 5},  {CardValue::Six, 6},  {CardValue::Seven, 7},
      {CardValue::Eight, 8},  {CardValue::Nine, 9},  {CardValue::Ten, 10}, {CardValue::Jack, 10},
      {CardValue::Queen, 15}, {CardValue::King, 20},
  };
  for (auto [value, expected] : cases) {
    for (CardSuit suit : {CardSuit::Spades, CardSuit::Hearts, CardSuit::Diamonds, CardSuit::Clubs,
                          CardSuit::None}) {
      EXPECT_EQ(Card({suit, value}).attack_value(), expected) << value_name(value);
    }
  }
}

TEST(Card, AttackSumOfCollections) {
  EXPECT_EQ(attack_sum(std::vector<Card>{}), 0);
  EXPECT_EQ(attack_sum(card_vector("SK Jester")), 20);
  EXPECT_EQ(attack_sum(testing::hand("HQ CJ D10 SA")), 36);
  EXPECT_EQ(attack_sum(testing::pile("")), 0);
}

TEST(Card, NumbersAreAceToTenAscending) {
  auto values = numbers();
  ASSERT_EQ(values.size(), 10u);
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(static_cast<int>(values[i]), static_cast<int>(i) + 1);
  }
}

TEST(Card, Texts) {
  const std::vector<std::pair<Card, std::string>> cases = {
      {card("HQ"), "♥Q"}, {card("C10"), "♣10"}, {card("SA"), "♠A"},           {card("DK"), "♦K"},
      {card("SJ"), "♠J"}, {kJester, "Jester"},  {card("SJester"), "♠Jester"}, {card("D2"), "♦2"},
  };
  for (const auto& [c, text] : cases) EXPECT_EQ(card_text(c), text);
  // A card is its card text inside any debug text, single-line or multi-line.
  EXPECT_EQ(util::debug_text(card("HQ"), true), "♥Q");
}

TEST(Card, EqualityAndHashCoverSuitAndValue) {
  std::vector<Card> all;
  for (CardSuit suit : kRealSuits) {
    for (int v = 1; v <= 13; ++v) all.push_back({suit, static_cast<CardValue>(v)});
  }
  all.push_back(kJester);
  std::unordered_set<std::size_t> hashes;
  for (std::size_t i = 0; i < all.size(); ++i) {
    for (std::size_t j = 0; j < all.size(); ++j) EXPECT_EQ(all[i] == all[j], i == j);
    hashes.insert(std::hash<Card>{}(all[i]));
  }
  EXPECT_EQ(hashes.size(), all.size());
  EXPECT_EQ(std::hash<Card>{}(kJester), std::hash<Card>{}(Card{CardSuit::None, CardValue::Jester}));
}

TEST(Card, SuitOrder) {
  // None lies below every real suit; then Spades < Hearts < Diamonds < Clubs.
  const std::vector<CardSuit> ascending = {CardSuit::None, CardSuit::Spades, CardSuit::Hearts,
                                           CardSuit::Diamonds, CardSuit::Clubs};
  for (std::size_t i = 0; i < ascending.size(); ++i) {
    for (std::size_t j = 0; j < ascending.size(); ++j) {
      EXPECT_EQ(compare_suits(ascending[i], ascending[j]), i <=> j) << i << " vs " << j;
    }
  }
}

TEST(Enemy, StartingValuesByRank) {
  struct Case {
    CardValue rank;
    int health;
    int attack;
  };
  for (Case c : {Case{CardValue::Jack, 20, 10}, Case{CardValue::Queen, 30, 15},
                 Case{CardValue::King, 40, 20}}) {
    for (CardSuit suit : kRealSuits) {
      Enemy e = Enemy::create({suit, c.rank});
      EXPECT_EQ(e.card(), Card({suit, c.rank}));
      EXPECT_EQ(e.health(), c.health);
      EXPECT_EQ(e.attack_value(), c.attack);
      EXPECT_FALSE(e.jester_applied());
    }
  }
}

TEST(Enemy, OnlyRoyalCardsAreEnemies) {
  const std::vector<std::pair<Card, std::string>> cases = {
      {card("SA"), "♠A is not an enemy"},
      {card("H10"), "♥10 is not an enemy"},
      {kJester, "Jester is not an enemy"},
  };
  for (const auto& [c, message] : cases) {
    try {
      Enemy::create(c);
      ADD_FAILURE() << card_text(c) << " made an enemy";
    } catch (const util::Failure& failure) {
      EXPECT_EQ(std::string(failure.what()), message);
    }
  }
}

TEST(Enemy, DamageToExactAndOverkill) {
  Enemy exact = enemy("SJ");
  exact.take_damage(20);
  EXPECT_EQ(exact.health(), 0);

  Enemy over = enemy("SJ");
  over.take_damage(30);
  EXPECT_EQ(over.health(), -10);

  Enemy king = enemy("CK");
  king.take_damage(0);
  EXPECT_EQ(king.health(), 40);
  king.take_damage(42);
  EXPECT_EQ(king.health(), -2);
  // The largest accepted amount.
  Enemy big = enemy("CK");
  big.take_damage(127);
  EXPECT_EQ(big.health(), 40 - 127);
}

TEST(Enemy, TooMuchDamageFailsAndChangesNothing) {
  Enemy e = enemy("DQ");
  for (std::uint16_t amount : {128, 1000, 65535}) {
    try {
      e.take_damage(amount);
      ADD_FAILURE() << "damage " << amount << " accepted";
    } catch (const util::Failure& failure) {
      EXPECT_STREQ(failure.what(), "That's a lot of damage!");
    }
    EXPECT_EQ(e, enemy("DQ"));
  }
  for (std::uint16_t by : {256, 300}) {
    EXPECT_THROW(e.decrease_attack(by), util::Failure);
    EXPECT_EQ(e, enemy("DQ"));
  }
}

TEST(Enemy, AttackIsFlooredAtZero) {
  Enemy king = enemy("HK");
  king.decrease_attack(7);
  EXPECT_EQ(king.attack_value(), 13);
  king.decrease_attack(25);
  EXPECT_EQ(king.attack_value(), 0);
  king.decrease_attack(3);
  EXPECT_EQ(king.attack_value(), 0);

  Enemy jack = enemy("HJ");
  jack.decrease_attack(255);
  EXPECT_EQ(jack.attack_value(), 0);
  Enemy exact = enemy("HJ");
  exact.decrease_attack(10);
  EXPECT_EQ(exact.attack_value(), 0);
}

TEST(Enemy, ApplyJesterIsIdempotent) {
  Enemy e = enemy("CJ");
  e.apply_jester();
  EXPECT_TRUE(e.jester_applied());
  Enemy twice = e;
  twice.apply_jester();
  EXPECT_EQ(twice, e);
  EXPECT_EQ(e.health(), 20);
  EXPECT_EQ(e.attack_value(), 10);
}

TEST(Enemy, EqualityComparesEveryField) {
  const Enemy fresh = enemy("SQ");
  EXPECT_EQ(fresh, enemy("SQ"));
  EXPECT_NE(fresh, enemy("HQ"));
  Enemy damaged = fresh;
  damaged.take_damage(1);
  Enemy weakened = fresh;
  weakened.decrease_attack(1);
  Enemy marked = fresh;
  marked.apply_jester();
  EXPECT_NE(fresh, damaged);
  EXPECT_NE(fresh, weakened);
  EXPECT_NE(fresh, marked);
}

TEST(Enemy, DebugTexts) {
  EXPECT_EQ(util::debug_text(enemy("DJ")),
            "Enemy { card: ♦J, health: 20, attack: 10, jester_applied: false }");
  Enemy hurt = enemy("CK");
  hurt.take_damage(45);
  hurt.decrease_attack(5);
  hurt.apply_jester();
  EXPECT_EQ(util::debug_text(hurt),
            "Enemy { card: ♣K, health: -5, attack: 15, jester_applied: true }");
  EXPECT_EQ(util::debug_text(enemy("HQ"), true),
            "Enemy {\n"
            "    card: ♥Q,\n"
            "    health: 30,\n"
            "    attack: 15,\n"
            "    jester_applied: false,\n"
            "}");
}

// Colours are decided once per process, so the coloured texts are checked in a fresh process
// started with CLICOLOR_FORCE set (it wins over NO_COLOR and over a non-terminal output).
TEST(CardDeathTest, CardTextsCarryColoursWhenForced) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("CLICOLOR_FORCE", "1", 1);
        bool ok = card_text(card("HQ")) == "\x1b[31m♥\x1b[0m\x1b[30mQ\x1b[0m" &&
                  card_text(card("C10")) == "\x1b[30m♣\x1b[0m\x1b[30m10\x1b[0m" &&
                  card_text(card("DA")) == "\x1b[31m♦\x1b[0m\x1b[30mA\x1b[0m" &&
                  card_text(kJester) == "\x1b[30mJester\x1b[0m";
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vardelic::game
