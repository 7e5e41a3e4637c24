#include "players/mcts_player.h"

#include <gtest/gtest.h>

namespace vardelic::players {
namespace {

TEST(MCTSPlayer, HasNoRankingBeforeAnyDecision) {
  MCTSPlayer player(100, 2, true);
  EXPECT_FALSE(player.ranked_actions().has_value());
}

}  // namespace
}  // namespace vardelic::players
