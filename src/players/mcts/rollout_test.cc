// The search's rollout counts each step's actions and builds only the one drawn; the reference
// builds every list. From the same states with the same generators both must draw the same
// numbers and end with the same result.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "game/action.h"
#include "game/state.h"
#include "players/mcts/search_config.h"
#include "util/rng.h"

namespace vardelic::players::mcts {
namespace {

using game::Action;
using game::GameResult;
using game::State;

constexpr int kRollouts = 10000;

// A state `seed` reached by a few random steps from a fresh deal: attacks, discards and
// jester choices at every level of play; every seventh one marked as ended, as make_move
// leaves a state whose action ended the game.
template <std::size_t N>
State<N> seeded_state(std::uint64_t seed) {
  util::ChaCha12Rng steps = util::ChaCha12Rng::from_seed(~seed);
  State<N> state = State<N>::create(seed);
  for (auto n = steps.gen_below(40); n > 0; --n) {
    const std::vector<Action> actions = state.get_action_space();
    if (actions.empty()) break;
    State<N> next = state;
    if (next.step(actions[steps.gen_below(actions.size())])) break;
    state = next;
  }
  if (seed % 7 == 0) state.has_ended = GameResult::Lost(state.level);
  return state;
}

template <std::size_t N, bool H>
void expect_same_rollouts() {
  int discards = 0;
  for (int i = 0; i < kRollouts; ++i) {
    const auto seed = static_cast<std::uint64_t>(i);
    const State<N> state = seeded_state<N>(seed);
    discards += state.action_type.kind == game::ActionType::Kind::Discard ? 1 : 0;
    util::ChaCha12Rng listing = util::ChaCha12Rng::from_seed(seed);
    util::ChaCha12Rng counting = listing;
    const GameResult expected = list_rollout<H>(state, listing);
    const GameResult result = rollout<H>(state, counting);
    ASSERT_EQ(result, expected) << "N=" << N << " H=" << H << " seed " << seed;
    ASSERT_TRUE(counting == listing)
        << "N=" << N << " H=" << H << " seed " << seed << ": the generators drew differently";
  }
  EXPECT_GT(discards, kRollouts / 50) << "the states include rollouts starting with a discard";
}

class RolloutEquivalence : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(RolloutEquivalence, CountingRolloutDrawsAsTheListingOne) {
  const auto [players, heuristics] = GetParam();
  switch (players * 2 + (heuristics ? 1 : 0)) {
    case 2:
      expect_same_rollouts<1, false>();
      break;
    case 3:
      expect_same_rollouts<1, true>();
      break;
    case 4:
      expect_same_rollouts<2, false>();
      break;
    case 5:
      expect_same_rollouts<2, true>();
      break;
    case 6:
      expect_same_rollouts<3, false>();
      break;
    case 7:
      expect_same_rollouts<3, true>();
      break;
    case 8:
      expect_same_rollouts<4, false>();
      break;
    case 9:
      expect_same_rollouts<4, true>();
      break;
    default:
      FAIL() << "no such configuration";
  }
}

INSTANTIATE_TEST_SUITE_P(PlayersAndHeuristics, RolloutEquivalence,
                         ::testing::Combine(::testing::Values(1, 2, 3, 4), ::testing::Bool()),
                         [](const auto& info) {
                           return std::to_string(std::get<0>(info.param)) + "_players_" +
                                  (std::get<1>(info.param) ? "heuristics" : "plain");
                         });

}  // namespace
}  // namespace vardelic::players::mcts
