// Search-player decisions with eight workers per tree; labelled "threads" so the
// ThreadSanitizer build runs them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <variant>
#include <vector>

#include "game/action.h"
#include "game/state.h"
#include "players/mcts_player.h"

namespace vardelic::players {
namespace {

using game::Action;
using game::State;

constexpr std::size_t kThreads = 8;

// One decision on `state`: legal, first in the ranking, and the ranking pools exactly
// playouts * samples visits over the whole action space, most visited first.
template <std::size_t N>
void expect_sound_decision(MCTSPlayer& player, const State<N>& state, uint32_t playouts,
                           uint32_t samples) {
  const Action chosen = player.play(state);
  const std::vector<Action> space = state.get_action_space();
  ASSERT_NE(std::find(space.begin(), space.end(), chosen), space.end());

  ASSERT_TRUE(player.ranked_actions().has_value());
  const std::vector<RankedAction>& ranked = *player.ranked_actions();
  ASSERT_FALSE(ranked.empty());
  EXPECT_EQ(ranked.front().action, chosen);
  std::unordered_set<Action> seen;
  uint64_t visits = 0;
  for (std::size_t i = 0; i < ranked.size(); ++i) {
    const RankedAction& entry = ranked[i];
    EXPECT_TRUE(seen.insert(entry.action).second) << "ranked twice";
    visits += entry.visits;
    if (i > 0) {
      EXPECT_LE(entry.visits, ranked[i - 1].visits);
    }
    if (entry.visits == 0) {
      EXPECT_TRUE(std::isnan(entry.avg_reward));
    } else {
      EXPECT_GE(entry.avg_reward, 0.0);
      EXPECT_LE(entry.avg_reward, 12.0);
    }
  }
  EXPECT_EQ(seen, std::unordered_set<Action>(space.begin(), space.end()));
  EXPECT_EQ(visits, uint64_t{playouts} * samples);
}

TEST(MCTSPlayerThreads, EightWorkersDecideSoundlyForEveryTableSize) {
  struct Case {
    bool heuristics;
    std::optional<uint8_t> policy;
    uint32_t samples;
  };
  const Case cases[] = {{true, std::nullopt, 1}, {false, 2, 3}, {true, 3, 2}, {false, 4, 1}};
  uint64_t seed = 30;
  for (const Case& c : cases) {
    SCOPED_TRACE("heuristics=" + std::to_string(c.heuristics) +
                 " policy=" + std::to_string(c.policy.value_or(0)));
    MCTSPlayer player(400, kThreads, c.heuristics, c.policy, c.samples);
    expect_sound_decision(player, State<1>::create(++seed), 400, c.samples);
    expect_sound_decision(player, State<2>::create(++seed), 400, c.samples);
    expect_sound_decision(player, State<3>::create(++seed), 400, c.samples);
    expect_sound_decision(player, State<4>::create(++seed), 400, c.samples);
  }
}

TEST(MCTSPlayerThreads, DecidesThroughAWholeGame) {
  // Later positions (discards, jester turns, emptier decks) have other action spaces.
  MCTSPlayer player(120, kThreads, true);
  State<2> state = State<2>::create(5);
  for (int turn = 0; turn < 40 && !state.get_action_space().empty(); ++turn) {
    SCOPED_TRACE("turn " + std::to_string(turn));
    expect_sound_decision(player, state, 120, 1);
    const auto status = state.apply_action(player.ranked_actions()->front().action);
    if (!std::holds_alternative<State<2>>(status)) break;
    state = std::get<State<2>>(status);
  }
}

TEST(MCTSPlayerThreads, PlayersDecidingAtOnceShareNothing) {
  // Two decisions at once, eight workers each: neither sees the other's tree or ranking.
  MCTSPlayer first(300, kThreads, true, std::nullopt, 2);
  MCTSPlayer second(500, kThreads, false, 3);
  const State<3> a = State<3>::create(7);
  const State<4> b = State<4>::create(8);
  std::thread other([&] { expect_sound_decision(first, a, 300, 2); });
  expect_sound_decision(second, b, 500, 1);
  other.join();
}

}  // namespace
}  // namespace vardelic::players
