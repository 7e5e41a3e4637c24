#include "players/random_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <variant>
#include <vector>

#include "game/state.h"
#include "testing/game_testing.h"
#include "util/failure.h"
#include "util/rng.h"

namespace vardelic::players {
namespace {

using game::Action;
using game::State;

// The actions a player chooses over one game from `game_seed` (at most `limit` moves).
template <std::size_t N>
std::vector<Action> play_game(RandomPlayer& player, std::uint64_t game_seed, int limit = 200) {
  std::vector<Action> chosen;
  State<N> state = State<N>::create(game_seed);
  for (int i = 0; i < limit; ++i) {
    if (state.get_action_space().empty()) break;
    Action action = player.play(state);
    chosen.push_back(action);
    auto status = state.apply_action(action);
    if (!std::holds_alternative<State<N>>(status)) break;
    state = std::get<State<N>>(status);
  }
  return chosen;
}

TEST(RandomPlayer, SameSeedSameChoices) {
  for (std::uint64_t seed : {0ull, 3ull, 77ull}) {
    RandomPlayer a(seed), b(seed);
    for (std::uint64_t game_seed = 0; game_seed < 5; ++game_seed) {
      EXPECT_EQ(play_game<2>(a, game_seed), play_game<2>(b, game_seed));
    }
  }
}

TEST(RandomPlayer, ChoicesDependOnTheSeed) {
  // Many games of one deal: different seeds, or no seed, play them differently.
  std::vector<std::vector<Action>> games;
  for (std::uint64_t seed = 0; seed < 10; ++seed) {
    RandomPlayer player(seed);
    std::vector<Action> game = play_game<3>(player, 1);
    if (std::find(games.begin(), games.end(), game) == games.end()) games.push_back(game);
  }
  EXPECT_GT(games.size(), 5u);
  RandomPlayer u1(std::nullopt), u2(std::nullopt);
  State<1> state = State<1>::create(4);
  std::vector<Action> c1, c2;
  for (int i = 0; i < 30; ++i) {
    c1.push_back(u1.play(state));
    c2.push_back(u2.play(state));
  }
  EXPECT_NE(c1, c2);
}

TEST(RandomPlayer, OneUniformDrawPerCall) {
  // Shown a state with one action and then one with many, the player draws for both.
  State<2> one = testing::bare_state<2>("HJ", "CK");  // an empty hand can only yield
  State<2> many = State<2>::create(9);
  const std::vector<Action> one_actions = one.get_action_space();
  const std::vector<Action> many_actions = many.get_action_space();
  ASSERT_EQ(one_actions.size(), 1u);
  ASSERT_GT(many_actions.size(), 5u);
  for (std::uint64_t seed = 0; seed < 20; ++seed) {
    RandomPlayer player(seed);
    util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(seed);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(player.play(one), one_actions[0]);
      EXPECT_EQ(rng.gen_below(1), 0u);
      EXPECT_EQ(player.play(many), many_actions[rng.gen_below(many_actions.size())]);
    }
  }
}

TEST(RandomPlayer, EveryActionGetsChosen) {
  State<1> state = State<1>::create(2);
  const std::vector<Action> actions = state.get_action_space();
  std::vector<int> counts(actions.size());
  RandomPlayer player(5);
  for (std::size_t i = 0; i < 100 * actions.size(); ++i) {
    Action a = player.play(state);
    auto it = std::find(actions.begin(), actions.end(), a);
    ASSERT_NE(it, actions.end()) << game::action_text(a);
    ++counts[it - actions.begin()];
  }
  for (std::size_t i = 0; i < counts.size(); ++i) {
    EXPECT_GT(counts[i], 40) << game::action_text(actions[i]);
    EXPECT_LT(counts[i], 180) << game::action_text(actions[i]);
  }
}

TEST(RandomPlayer, CopiesContinueIndependently) {
  RandomPlayer a(11);
  play_game<4>(a, 3, 7);
  RandomPlayer b = a;
  std::vector<Action> from_a = play_game<4>(a, 8);
  std::vector<Action> from_b = play_game<4>(b, 8);
  EXPECT_EQ(from_a, from_b);
}

TEST(RandomPlayer, NoActionsIsAFailure) {
  State<1> state = testing::bare_state<1>("HJ", "CK");
  state.action_type = game::ActionType::discard(10);
  state.hand_refills_left = 0;
  ASSERT_TRUE(state.get_action_space().empty());
  RandomPlayer player(1);
  try {
    player.play(state);
    ADD_FAILURE() << "chose from nothing";
  } catch (const util::Failure& failure) {
    EXPECT_STREQ(failure.what(), "No actions available to choose from");
  }
}

}  // namespace
}  // namespace vardelic::players
