#include "game/player.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "game/action.h"
#include "testing/game_testing.h"
#include "util/debug_text.h"
#include "util/failure.h"

namespace vardelic::game {
namespace {

using testing::card;
using testing::card_vector;
using testing::hand;

TEST(PlayerId, NextIdWrapsAround) {
  struct Case {
    std::size_t id, total, next;
  };
  for (Case c : {Case{0, 1, 0}, Case{0, 2, 1}, Case{1, 2, 0}, Case{2, 3, 0}, Case{1, 3, 2},
                 Case{3, 4, 0}, Case{2, 4, 3}}) {
    EXPECT_EQ(PlayerId{c.id}.next_id(c.total), PlayerId{c.next}) << c.id << " of " << c.total;
  }
}

TEST(PlayerId, DebugTextAndHash) {
  EXPECT_EQ(util::debug_text(PlayerId{3}), "PlayerId(3)");
  EXPECT_EQ(util::debug_text(PlayerId{0}, true), "PlayerId(\n    0,\n)");
  EXPECT_EQ(std::hash<PlayerId>{}(PlayerId{2}), std::hash<PlayerId>{}(PlayerId{2}));
  EXPECT_NE(PlayerId{1}, PlayerId{2});
}

TEST(Player, RemoveFromHandTakesOneCopyPerCard) {
  struct Case {
    const char* hand;
    const char* removed;
    const char* left;
  };
  const Case cases[] = {
      {"S5 Jester DK Jester", "Jester", "S5 DK Jester"},
      {"S5 Jester DK Jester", "Jester Jester", "S5 DK"},
      {"S5 H3 DK", "C9", "S5 H3 DK"},     // not in the hand
      {"S5 H3 DK", "DK S5", "H3"},        // order of removal does not matter
      {"S5 H3 DK C2", "H3", "S5 DK C2"},  // the rest keep their order
      {"S5 H3", "S5 S5", "H3"},           // the second copy finds nothing
      {"", "S5", ""},
      {"SA HA DA CA", "", "SA HA DA CA"},
  };
  for (const Case& c : cases) {
    Player player = Player::create(1, hand(c.hand));
    player.remove_from_hand(hand(c.removed));
    EXPECT_EQ(player.hand, hand(c.left)) << c.hand << " minus " << c.removed;
    EXPECT_EQ(player.id, PlayerId{1});
  }
}

TEST(Player, TotalHandValue) {
  EXPECT_EQ(Player::create(0, hand("SK Jester")).total_hand_value(), 20);
  EXPECT_EQ(Player::create(0, hand("")).total_hand_value(), 0);
  EXPECT_EQ(Player::create(0, hand("HA D10 CJ SQ")).total_hand_value(), 36);
}

TEST(Player, DebugText) {
  EXPECT_EQ(util::debug_text(Player::create(1, hand("SA H10 Jester"))),
            "Player { id: PlayerId(1), hand: [♠A, ♥10, Jester] }");
  EXPECT_EQ(util::debug_text(Player::create(0, hand(""))), "Player { id: PlayerId(0), hand: [] }");
}

TEST(Action, DebugTexts) {
  const std::vector<std::pair<Action, std::string>> cases = {
      {Action::play(card("S7")), "Play(♠7)"},
      {Action::play(kJester), "Play(Jester)"},
      {Action::animal_combo(card("CA"), card("H9")), "AnimalCombo(♣A, ♥9)"},
      {Action::combo(card_vector("S3 D3")), "Combo([♠3, ♦3])"},
      {Action::combo(card_vector("S2 H2 D2 C2")), "Combo([♠2, ♥2, ♦2, ♣2])"},
      {Action::yield(), "Yield"},
      {Action::discard(card_vector("H2 D8")), "Discard([♥2, ♦8])"},
      {Action::discard(card_vector("")), "Discard([])"},
      {Action::change_player(PlayerId{2}), "ChangePlayer(PlayerId(2))"},
      {Action::refill_hand(), "RefillHand"},
  };
  for (const auto& [action, text] : cases) {
    EXPECT_EQ(action_text(action), text);
    EXPECT_EQ(util::debug_text(action), text);
  }
  EXPECT_EQ(util::debug_text(Action::discard(card_vector("H2 D8")), true),
            "Discard(\n    [\n        ♥2,\n        ♦8,\n    ],\n)");
  EXPECT_EQ(util::debug_text(Action::yield(), true), "Yield");
}

TEST(Action, KindsAreNumberedInVariantOrder) {
  EXPECT_EQ(static_cast<int>(Action::play(card("S7")).kind()), 0);
  EXPECT_EQ(static_cast<int>(Action::animal_combo(card("SA"), card("H2")).kind()), 1);
  EXPECT_EQ(static_cast<int>(Action::combo(card_vector("S3 D3")).kind()), 2);
  EXPECT_EQ(static_cast<int>(Action::yield().kind()), 3);
  EXPECT_EQ(static_cast<int>(Action::discard(card_vector("S3")).kind()), 4);
  EXPECT_EQ(static_cast<int>(Action::change_player(PlayerId{0}).kind()), 5);
  EXPECT_EQ(static_cast<int>(Action::refill_hand().kind()), 6);
}

// Every action below differs from every other one; equal constructions are equal.
std::vector<Action> distinct_actions() {
  return {
      Action::play(card("S3")),
      Action::play(card("D3")),
      Action::play(kJester),
      Action::animal_combo(card("SA"), card("D3")),
      Action::animal_combo(card("D3"), card("SA")),
      Action::animal_combo(card("HA"), card("SA")),
      Action::combo(card_vector("S3 D3")),
      Action::combo(card_vector("D3 S3")),
      Action::combo(card_vector("S3 D3 H3")),
      Action::combo(card_vector("SA D3")),
      Action::yield(),
      Action::discard(card_vector("")),
      Action::discard(card_vector("S3")),
      Action::discard(card_vector("S3 D3")),
      Action::discard(card_vector("D3 S3")),
      Action::discard(card_vector("Jester")),
      Action::discard(card_vector("Jester Jester")),
      Action::change_player(PlayerId{0}),
      Action::change_player(PlayerId{1}),
      Action::change_player(PlayerId{3}),
      Action::refill_hand(),
  };
}

TEST(Action, EqualityIsVariantAndPayloadInOrder) {
  std::vector<Action> a = distinct_actions();
  std::vector<Action> b = distinct_actions();
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (std::size_t j = 0; j < b.size(); ++j) {
      EXPECT_EQ(a[i] == b[j], i == j) << action_text(a[i]) << " vs " << action_text(b[j]);
    }
  }
}

TEST(Action, HashIsConsistentWithEquality) {
  std::vector<Action> a = distinct_actions();
  std::vector<Action> b = distinct_actions();
  std::unordered_set<Action> set(a.begin(), a.end());
  EXPECT_EQ(set.size(), a.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(std::hash<Action>{}(a[i]), std::hash<Action>{}(b[i])) << action_text(a[i]);
    EXPECT_EQ(set.count(b[i]), 1u);
  }
}

TEST(Action, ComboOfMoreThanFourCardsIsRefused) {
  EXPECT_THROW(Action::combo(card_vector("S2 H2 D2 C2 S3")), util::Failure);
}

TEST(GameResult, TextsAndEquality) {
  EXPECT_EQ(util::debug_text(GameResult::Won()), "Won");
  EXPECT_EQ(util::debug_text(GameResult::Lost(5)), "Lost(5)");
  EXPECT_EQ(util::debug_text(GameResult::Lost(0)), "Lost(0)");
  EXPECT_EQ(util::debug_text(GameResult::Lost(12)), "Lost(12)");
  EXPECT_EQ(GameResult::Lost(5), GameResult::Lost(5));
  EXPECT_NE(GameResult::Lost(5), GameResult::Lost(4));
  EXPECT_NE(GameResult::Won(), GameResult::Lost(0));
  EXPECT_TRUE(GameResult::Won().won());
  EXPECT_FALSE(GameResult::Lost(3).won());
  EXPECT_EQ(GameResult::Lost(3).score(), 3);
  EXPECT_EQ(util::debug_text(std::optional<GameResult>(GameResult::Lost(7))), "Some(Lost(7))");
}

}  // namespace
}  // namespace vardelic::game
