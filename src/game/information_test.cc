#include "game/information.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "game/state.h"
#include "game/state_enum.h"
#include "testing/game_testing.h"
#include "util/rng.h"

namespace vardelic::game {
namespace {

using testing::hand;

// Calls visit(state) on every position of `games` seeded games of uniformly random legal moves.
template <std::size_t N, typename Visit>
void for_each_position(std::size_t games, Visit visit) {
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(0x1f0 + N);
  for (std::uint64_t seed = 0; seed < games; ++seed) {
    State<N> state = State<N>::create(seed);
    for (;;) {
      visit(state);
      const std::vector<Action> actions = state.get_action_space();
      if (actions.empty() || state.step(actions[rng.gen_below(actions.size())])) break;
    }
  }
}

class InformationByPlayers : public ::testing::TestWithParam<int> {
 protected:
  template <std::size_t N>
  void check_redeals() {
    std::size_t moved = 0;
    std::size_t positions = 0;
    for_each_position<N>(40, [&](const State<N>& state) {
      ++positions;
      for (std::size_t seat = 0; seat < N; ++seat) {
        util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(positions * 8 + seat);
        const State<N> world = deal_hidden(state, seat, rng);
        ASSERT_EQ(seat_view(world, seat), seat_view(state, seat));
        ASSERT_TRUE(testing::check_invariants(world));
        ASSERT_EQ(world.table.discard_pile, state.table.discard_pile);
        EXPECT_NE(world.rng_seed, state.rng_seed);
        State<N> cards_only = world;
        cards_only.rng_seed = state.rng_seed;
        moved += !(cards_only == state);
        // A function of the view alone: however the hidden cards lay, the same generator
        // deals the same world.
        util::ChaCha12Rng other = util::ChaCha12Rng::from_seed(99);
        util::ChaCha12Rng same = util::ChaCha12Rng::from_seed(positions * 8 + seat);
        ASSERT_EQ(deal_hidden(deal_hidden(state, seat, other), seat, same), world);
      }
    });
    EXPECT_GT(moved, positions * N / 2);
  }
};

TEST_P(InformationByPlayers, DealingTheHiddenCardsAgainKeepsEveryView) {
  switch (GetParam()) {
    case 1:
      check_redeals<1>();
      break;
    case 2:
      check_redeals<2>();
      break;
    case 3:
      check_redeals<3>();
      break;
    case 4:
      check_redeals<4>();
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(Players, InformationByPlayers, ::testing::Values(1, 2, 3, 4));

TEST(SeatView, HoldsWhatTheSeatMayKnowAndNothingHidden) {
  State<3> state = testing::bare_state<3>("CQ", "SK HK");
  state.table.castle_deck.back().take_damage(12);
  state.table.castle_deck.back().decrease_attack(4);
  state.players[0].hand = hand("S2 H7");
  state.players[1].hand = hand("D3 C4 S5");
  state.table.tavern_deck = testing::pile("H2 H3");
  state.table.discard_pile = testing::pile("C9 D9");
  state.has_turn = PlayerId{1};

  const SeatView<3> view = seat_view(state, 0);
  EXPECT_EQ(view.hand, hand("S2 H7"));
  EXPECT_EQ(view.hand_sizes, (std::array<std::uint8_t, 3>{2, 3, 0}));
  EXPECT_EQ(view.to_move, 1);
  ASSERT_TRUE(view.enemy);
  EXPECT_EQ(view.enemy->damage, 12);
  EXPECT_EQ(view.enemy->health, 18);
  EXPECT_EQ(view.enemy->attack, 11);
  EXPECT_TRUE(view.enemy->immune());
  EXPECT_EQ(view.enemies_left_count(), 3u);
  EXPECT_EQ(view.enemies_left_of_rank(1), 1u);
  EXPECT_EQ(view.enemies_left_of_rank(2), 2u);
  EXPECT_EQ(view.discard_size, 2);
  EXPECT_EQ(view.discard[card_kind(testing::card("C9"))], 1);

  // Another seat's hand and the tavern's order are hidden; the discard pile is not.
  State<3> other = state;
  other.players[1].hand = hand("H2 H3 S5");
  other.table.tavern_deck = testing::pile("D3 C4");
  other.rng_seed ^= 1;
  EXPECT_EQ(seat_view(other, 0), view);
  EXPECT_NE(seat_view(other, 1), seat_view(state, 1));
  other.table.discard_pile = testing::pile("D9 C9");
  EXPECT_EQ(seat_view(other, 0), view);
  other.table.discard_pile = testing::pile("D9 C8");
  EXPECT_NE(seat_view(other, 0), view);

  EXPECT_THROW(seat_view(state, 3), std::invalid_argument);
}

TEST(Points, AWinIsWorthEveryEnemyALossTheLevelReached) {
  EXPECT_EQ(State<2>::create(1).table.castle_deck.size(), kEnemies);
  EXPECT_EQ(points(GameResult::Won()), kEnemies);
  EXPECT_EQ(GameResult::Won().score(), 0);  // score() keeps its meaning
  for (std::uint8_t level : {0, 7, 11}) EXPECT_EQ(points(GameResult::Lost(level)), level);
}

TEST(WithPlayers, DispatchesOneToFourAndRefusesEveryOtherCount) {
  for (std::size_t n = 1; n <= kMaxPlayers; ++n) {
    EXPECT_EQ(with_players(n, [](auto players) { return decltype(players)::value; }), n);
    ASSERT_TRUE(new_state_enum(n, 3));
    EXPECT_EQ(player_count(*new_state_enum(n, 3)), n);
  }
  for (std::size_t n : {std::size_t{0}, std::size_t{5}, std::size_t{1} << 40}) {
    EXPECT_FALSE(new_state_enum(n, 3));
    try {
      with_players(n, [](auto) { return 0; });
      ADD_FAILURE() << n << " players accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "Only 1-4 players are allowed");
    }
  }
}

}  // namespace
}  // namespace vardelic::game
