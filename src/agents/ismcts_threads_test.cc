// Searches on several threads; labelled "threads" so the ThreadSanitizer build runs them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "agents/ismcts_player.h"
#include "game/state.h"
#include "game/state_enum.h"

namespace vardelic::agents {
namespace {

using game::Action;

ISMCTSSettings threaded(std::size_t threads, std::uint64_t iterations, std::uint64_t seed) {
  ISMCTSSettings s;
  s.threads = threads;
  s.iterations = iterations;
  s.seed = seed;
  return s;
}

// A whole game of `players` seats, all played by `player`: every decision is legal and, with an
// iteration budget, runs exactly that many iterations over all threads.
void play_game(ISMCTSPlayer& player, std::size_t players, std::uint64_t seed) {
  game::StateEnum state = *game::new_state_enum(players, seed);
  for (int turn = 0; turn < 400; ++turn) {
    const std::vector<Action> space =
        std::visit([](const auto& s) { return s.get_action_space(); }, state);
    if (space.empty()) return;
    const Action action = player.play(state);
    ASSERT_NE(std::find(space.begin(), space.end(), action), space.end());
    if (space.size() > 1 && player.settings().iterations && !player.settings().time_ms) {
      EXPECT_EQ(player.last_decision().iterations, *player.settings().iterations);
    }
    const bool ended = std::visit([&](auto& s) { return s.step(action).has_value(); }, state);
    if (ended) return;
  }
}

TEST(ISMCTSThreads, WholeGamesOnFourThreadsForEveryTableSize) {
  for (std::size_t players = 1; players <= 4; ++players) {
    ISMCTSPlayer player(threaded(4, 90, players));
    play_game(player, players, 100 + players);
  }
}

TEST(ISMCTSThreads, TimeBudgetOnThreeThreads) {
  ISMCTSSettings s;
  s.threads = 3;
  s.time_ms = 3;
  ISMCTSPlayer player(s);
  // A forced move is played without a search: check the first decision with a choice, where
  // each of the three workers runs at least one iteration however short the budget.
  const game::StateEnum state = *game::new_state_enum(2, 7);
  ASSERT_GT(std::visit([](const auto& st) { return st.get_action_space().size(); }, state), 1u);
  player.play(state);
  EXPECT_GE(player.last_decision().iterations, 3u);
  play_game(player, 2, 7);
}

TEST(ISMCTSThreads, PlayersDecidingAtOnceShareNothing) {
  std::vector<std::thread> games;
  for (std::size_t i = 0; i < 3; ++i) {
    games.emplace_back([i] {
      ISMCTSPlayer player(threaded(2, 60, i));
      play_game(player, 1 + i, 40 + i);
    });
  }
  for (std::thread& game : games) game.join();
}

TEST(ISMCTSThreads, SeededThreadedDecisionsRepeat) {
  const game::StateEnum state = *game::new_state_enum(3, 77);
  ISMCTSPlayer a(threaded(3, 300, 5));
  ISMCTSPlayer b(threaded(3, 300, 5));
  EXPECT_EQ(a.play(state), b.play(state));
  for (std::size_t i = 0; i < a.ranked_actions().size(); ++i) {
    EXPECT_EQ(a.ranked_actions()[i].visits, b.ranked_actions()[i].visits);
  }
}

}  // namespace
}  // namespace vardelic::agents
