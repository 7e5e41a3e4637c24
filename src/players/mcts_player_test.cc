#include "players/mcts_player.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "testing/game_testing.h"
#include "util/failure.h"

namespace vardelic::players {
namespace {

using game::Action;
using game::State;
using testing::card;
using testing::hand;
using testing::three_actions;

std::vector<std::pair<Action, ActionTotals>> totals_of(
    std::initializer_list<std::pair<const char*, ActionTotals>> entries) {
  std::vector<std::pair<Action, ActionTotals>> totals;
  for (const auto& [text, t] : entries) totals.emplace_back(Action::play(card(text)), t);
  return totals;
}

std::vector<std::string> order_of(const std::vector<RankedAction>& ranked) {
  std::vector<std::string> texts;
  for (const RankedAction& entry : ranked) texts.push_back(game::action_text(entry.action));
  return texts;
}

TEST(RankActions, ByVisitsThenTotalRewardKeepingFullTiesInOrder) {
  std::vector<RankedAction> ranked = rank_actions(totals_of({
      {"S2", {3, 10}},
      {"S3", {5, 10}},
      {"S4", {3, 30}},
      {"S5", {0, 0}},
      {"S6", {3, 10}},  // ties with S2 in both: stays behind it
  }));
  EXPECT_EQ(order_of(ranked),
            (std::vector<std::string>{"Play(♠3)", "Play(♠4)", "Play(♠2)", "Play(♠6)", "Play(♠5)"}));
  EXPECT_DOUBLE_EQ(ranked[0].avg_reward, 2.0);
  EXPECT_DOUBLE_EQ(ranked[1].avg_reward, 10.0);
  EXPECT_EQ(ranked[4].visits, 0u);
  EXPECT_TRUE(std::isnan(ranked[4].avg_reward));
  EXPECT_TRUE(rank_actions({}).empty());
}

void expect_failure(MCTSPlayer& player, const State<2>& state, const std::string& message) {
  try {
    player.play(state);
    FAIL() << "expected: " << message;
  } catch (const util::Failure& failure) {
    EXPECT_EQ(failure.what(), message);
  }
}

TEST(MCTSPlayer, HasNoRankingBeforeAnyDecision) {
  MCTSPlayer player(100, 2, true);
  EXPECT_FALSE(player.ranked_actions().has_value());
}

TEST(MCTSPlayer, RanksEveryActionOncePoolingVisitsOverSamples) {
  MCTSPlayer player(120, 1, true, std::nullopt, 3);
  State<2> state = three_actions();
  Action chosen = player.play(state);
  ASSERT_TRUE(player.ranked_actions().has_value());
  const std::vector<RankedAction>& ranked = *player.ranked_actions();
  ASSERT_EQ(ranked.size(), 3u);
  EXPECT_EQ(ranked.front().action, chosen);
  std::uint64_t visits = 0;
  for (std::size_t i = 0; i < ranked.size(); ++i) {
    visits += ranked[i].visits;
    if (i > 0) {
      EXPECT_LE(ranked[i].visits, ranked[i - 1].visits);
    }
  }
  EXPECT_EQ(visits, 120u * 3u);
}

TEST(MCTSPlayer, PoolsEqualRootActionsIntoOneEntry) {
  // Both jesters of a four-player game in one hand: the action space lists Play(Jester) twice.
  State<4> state = testing::bare_state<4>("DJ", "CK");
  state.players[0].hand = hand("Jester Jester S3");
  std::vector<Action> space = state.get_action_space();
  ASSERT_EQ(space.size(), 4u);
  MCTSPlayer player(200, 1, false);
  player.play(state);
  const std::vector<RankedAction>& ranked = *player.ranked_actions();
  ASSERT_EQ(ranked.size(), 3u);
  std::uint64_t visits = 0;
  for (const RankedAction& entry : ranked) visits += entry.visits;
  EXPECT_EQ(visits, 200u);
}

TEST(MCTSPlayer, NoPlayoutsListEveryActionUnvisitedAndStartNoThread) {
  MCTSPlayer player(0, 0, false);
  State<2> state = three_actions();
  Action chosen = player.play(state);
  const std::vector<RankedAction>& ranked = *player.ranked_actions();
  ASSERT_EQ(ranked.size(), 3u);
  for (const RankedAction& entry : ranked) {
    EXPECT_EQ(entry.visits, 0u);
    EXPECT_TRUE(std::isnan(entry.avg_reward));
  }
  EXPECT_EQ(ranked.front().action, chosen);
}

TEST(MCTSPlayer, EveryPolicyNumberTheSearchKnowsDecides) {
  State<2> state = three_actions();
  for (std::optional<std::uint8_t> policy :
       {std::optional<std::uint8_t>(), std::optional<std::uint8_t>(0),
        std::optional<std::uint8_t>(2), std::optional<std::uint8_t>(3),
        std::optional<std::uint8_t>(4)}) {
    MCTSPlayer player(30, 1, true, policy);
    EXPECT_NO_THROW(player.play(state));
  }
}

TEST(MCTSPlayer, FailedDecisionsKeepTheLastRanking) {
  State<2> state = three_actions();
  struct Case {
    MCTSPlayer player;
    std::string message;
  };
  std::vector<Case> cases = {
      {MCTSPlayer(10, 1, true, 1), "Could not determine policy from number '1'"},
      {MCTSPlayer(10, 1, true, 5), "Could not determine policy from number '5'"},
      {MCTSPlayer(10, 1, true, 255), "Could not determine policy from number '255'"},
      {MCTSPlayer(10, 0, true), "assertion failed: num_threads != 0"},
      {MCTSPlayer(10, 1, true, std::nullopt, 0), "No actions available to choose from"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.message);
    expect_failure(c.player, state, c.message);
    EXPECT_FALSE(c.player.ranked_actions().has_value());
  }

  // A player that decided once keeps that ranking through a failure.
  MCTSPlayer player(20, 1, true);
  player.play(state);
  std::vector<RankedAction> before = *player.ranked_actions();
  State<2> ended = state;
  ended.players[0].hand = hand("");
  ended.action_type = game::ActionType::discard(10);  // nothing covers it: no action at all
  expect_failure(player, ended, "No actions available to choose from");
  ASSERT_TRUE(player.ranked_actions().has_value());
  EXPECT_EQ(order_of(*player.ranked_actions()), order_of(before));
}

}  // namespace
}  // namespace vardelic::players
