// Plays many seeded games with uniformly random legal actions and checks the invariants of the
// rules after every action.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <variant>
#include <vector>

#include "game/action.h"
#include "game/state.h"
#include "testing/game_testing.h"
#include "util/rng.h"

namespace vardelic::game {
namespace {

constexpr int kGamesPerPlayerCount = 20000;

// Every attack deals at least 1 unless it is a jester (two per enemy at most) or a yield, and
// at most N-1 yields, each with its discard, come between two attacks; refills are two at most.
template <std::size_t N>
constexpr std::size_t kMaxActions = 12 * (40 + 2 * 2) * (2 * N + 1) + 3;

bool holds_cards(const Hand& hand, const Hand& cards) {
  std::array<bool, 8> used{};
  for (Card c : cards) {
    bool found = false;
    for (std::size_t i = 0; i < hand.size(); ++i) {
      if (!used[i] && hand[i] == c) {
        used[i] = found = true;
        break;
      }
    }
    if (!found) return false;
  }
  return true;
}

// Each listed action fits the obligation and the mover's hand; the list is free of repeats
// unless the hand holds both jesters.
template <std::size_t N>
::testing::AssertionResult check_action_space(const State<N>& state,
                                              const std::vector<Action>& actions) {
  const Hand& hand = state.current_player().hand;
  const bool two_jesters = std::count(hand.begin(), hand.end(), kJester) == 2;
  for (std::size_t i = 0; i < actions.size(); ++i) {
    const Action& a = actions[i];
    bool fits = false;
    switch (state.action_type.kind) {
      case ActionType::Kind::PlayCards:
        fits = a.kind() == ActionKind::Play || a.kind() == ActionKind::AnimalCombo ||
               a.kind() == ActionKind::Combo || a.kind() == ActionKind::Yield;
        break;
      case ActionType::Kind::Discard:
        fits = a.kind() == ActionKind::Discard && attack_sum(a.cards()) >= state.action_type.amount;
        break;
      case ActionType::Kind::Jester:
        fits = a.kind() == ActionKind::ChangePlayer && a.player().id < N;
        break;
    }
    if (a.kind() == ActionKind::RefillHand) {
      fits = N == 1 && state.hand_refills_left > 0 && i + 1 == actions.size();
    }
    if (!fits) return ::testing::AssertionFailure() << action_text(a) << " does not fit";
    if (!holds_cards(hand, a.cards())) {
      return ::testing::AssertionFailure() << action_text(a) << " uses cards not in the hand";
    }
    if (!two_jesters) {
      for (std::size_t j = 0; j < i; ++j) {
        if (actions[j] == a) return ::testing::AssertionFailure() << action_text(a) << " twice";
      }
    }
  }
  return ::testing::AssertionSuccess();
}

struct Totals {
  std::size_t games = 0, won = 0, lost = 0, stuck = 0, actions = 0, max_level = 0;
  std::array<std::size_t, 7> kinds{};
};

template <std::size_t N>
Totals play_random_games(std::uint64_t first_seed, int games) {
  Totals totals;
  std::vector<Action> actions, again;
  for (int g = 0; g < games; ++g) {
    const std::uint64_t seed = first_seed + static_cast<std::uint64_t>(g);
    util::ChaCha12Rng pick = util::ChaCha12Rng::from_seed(~seed);
    State<N> state = State<N>::create(seed);
    EXPECT_TRUE(testing::check_invariants(state)) << "seed " << seed;
    bool ended = false;
    for (std::size_t step = 0; step < kMaxActions<N> && !ended; ++step) {
      actions.clear();
      state.append_action_space(actions);
      const State<N> copy = state;
      again = copy.get_action_space();
      if (actions != again) {
        ADD_FAILURE() << "the action space changed between two calls, seed " << seed;
        return totals;
      }
      if (auto ok = check_action_space(state, actions); !ok) {
        ADD_FAILURE() << ok.message() << ", seed " << seed << ", step " << step << "\n"
                      << util::debug_text(state, true);
        return totals;
      }
      if (stuck_result(state).has_value() != actions.empty()) {
        ADD_FAILURE() << "stuck_result disagrees with the action list, seed " << seed << "\n"
                      << util::debug_text(state, true);
        return totals;
      }
      if (actions.empty()) {
        EXPECT_EQ(stuck_result(state), GameResult::Lost(state.level));
        // Only a solo player whose refilled hand cannot cover the attack has nothing to do.
        if (N != 1 || state.action_type.kind != ActionType::Kind::Discard) {
          ADD_FAILURE() << "no actions, seed " << seed << "\n" << util::debug_text(state, true);
          return totals;
        }
        ++totals.stuck;
        ended = true;
        break;
      }

      const Action action = actions[pick.gen_below(actions.size())];
      ++totals.kinds[static_cast<std::size_t>(action.kind())];
      ++totals.actions;
      GameStatus<N> status = state.apply_action(action);
      GameStatus<N> from_copy = copy.apply_action(action);
      State<N> in_place = state;
      std::optional<GameResult> stepped = in_place.step(action);
      if (status != from_copy) {
        ADD_FAILURE() << "a copy gave another outcome for " << action_text(action) << ", seed "
                      << seed;
        return totals;
      }

      if (const auto* result = std::get_if<GameResult>(&status)) {
        EXPECT_EQ(stepped, *result) << "seed " << seed;
        if (result->won()) {
          EXPECT_TRUE(state.table.castle_deck.empty()) << "won with enemies left, seed " << seed;
          ++totals.won;
        } else {
          EXPECT_EQ(result->score(), state.level) << "seed " << seed;
          ++totals.lost;
        }
        ended = true;
        break;
      }
      State<N>& next = std::get<State<N>>(status);
      if (stepped || !(in_place == next)) {
        ADD_FAILURE() << "step and apply_action differ on " << action_text(action) << ", seed "
                      << seed;
        return totals;
      }
      if (action.kind() == ActionKind::Yield) {
        EXPECT_EQ(next.times_yielded, state.times_yielded + 1);
      }
      state = next;
      if (auto ok = testing::check_invariants(state); !ok) {
        ADD_FAILURE() << ok.message() << " after " << action_text(action) << ", seed " << seed
                      << ", step " << step << "\n"
                      << util::debug_text(state, true);
        return totals;
      }
      totals.max_level = std::max<std::size_t>(totals.max_level, state.level);
    }
    EXPECT_TRUE(ended) << "no end within " << kMaxActions<N> << " actions, seed " << seed;
    ++totals.games;
  }
  return totals;
}

template <typename T>
class RandomGames : public ::testing::Test {};
using PlayerCounts =
    ::testing::Types<std::integral_constant<std::size_t, 1>, std::integral_constant<std::size_t, 2>,
                     std::integral_constant<std::size_t, 3>,
                     std::integral_constant<std::size_t, 4>>;
TYPED_TEST_SUITE(RandomGames, PlayerCounts);

TYPED_TEST(RandomGames, KeepTheInvariantsAfterEveryAction) {
  constexpr std::size_t N = TypeParam::value;
  Totals totals = play_random_games<N>(N * 1000000, kGamesPerPlayerCount);
  ASSERT_EQ(totals.games, static_cast<std::size_t>(kGamesPerPlayerCount));
  EXPECT_EQ(totals.won + totals.lost + totals.stuck, totals.games);
  EXPECT_GT(totals.max_level, 0u) << "random play never defeated an enemy";

  // Every kind of action the player count allows was played at least once.
  for (ActionKind kind : {ActionKind::Play, ActionKind::AnimalCombo, ActionKind::Combo,
                          ActionKind::Yield, ActionKind::Discard}) {
    EXPECT_GT(totals.kinds[static_cast<std::size_t>(kind)], 0u) << kind_name(kind);
  }
  EXPECT_EQ(totals.kinds[static_cast<std::size_t>(ActionKind::ChangePlayer)] > 0, N >= 3);
  EXPECT_EQ(totals.kinds[static_cast<std::size_t>(ActionKind::RefillHand)] > 0, N == 1);
}

// Game 640691, played by a generator seeded 640691 (a seeded RandomPlayer's choices), refills
// during a discard until its hand cannot pay with no refill left: the game ends there, Lost at
// level 4, while the action list stays empty.
TEST(RandomGames, AStuckPositionEndsTheGameLostAtItsLevel) {
  State<1> state = State<1>::create(640691);
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(640691);
  std::size_t moves = 0;
  for (;; ++moves) {
    const std::vector<Action> actions = state.get_action_space();
    if (actions.empty()) break;
    ASSERT_FALSE(stuck_result(state));
    ASSERT_FALSE(state.step(actions[rng.gen_below(actions.size())])) << "ended at move " << moves;
  }
  EXPECT_EQ(moves, 21u);
  EXPECT_EQ(state.action_type.kind, ActionType::Kind::Discard);
  EXPECT_EQ(state.hand_refills_left, 0);
  EXPECT_EQ(stuck_result(state), GameResult::Lost(4));
}

TEST(RandomGames, TheSameSeedReplaysTheSameGame) {
  for (std::uint64_t seed = 0; seed < 20; ++seed) {
    Totals a = play_random_games<3>(seed * 7, 1);
    Totals b = play_random_games<3>(seed * 7, 1);
    EXPECT_EQ(a.actions, b.actions);
    EXPECT_EQ(a.kinds, b.kinds);
    EXPECT_EQ(a.max_level, b.max_level);
  }
}

}  // namespace
}  // namespace vardelic::game
