// The indexed action space must be the listed one, entry by entry, in every kind of state, and
// an action code must give back exactly the action it was made from.
#include "game/action_count.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "game/action_code.h"
#include "game/state.h"
#include "testing/game_testing.h"
#include "util/failure.h"
#include "util/rng.h"

namespace vardelic::game {
namespace {

template <std::size_t N>
void expect_same_entries(const State<N>& state, bool pruned, const std::string& where) {
  const std::vector<Action> listed =
      pruned ? prune_bad_moves(state.get_action_space()) : state.get_action_space();
  const IndexedActionSpace<N> indexed(state, pruned);
  ASSERT_EQ(indexed.size(), listed.size()) << where << " pruned=" << pruned;
  for (std::size_t k = 0; k < listed.size(); ++k) {
    ASSERT_EQ(indexed[k], listed[k]) << where << " pruned=" << pruned << " index " << k;
    const Hand& hand = state.current_player().hand;
    ASSERT_EQ(ActionCode(hand, listed[k]).action(hand), listed[k])
        << where << " " << action_text(listed[k]);
  }
  EXPECT_THROW(indexed[listed.size()], util::Failure);
}

template <std::size_t N>
void expect_same_spaces(const State<N>& state, const std::string& where) {
  expect_same_entries(state, false, where);
  expect_same_entries(state, true, where);
}

template <class T>
class IndexedActionSpaceTest : public ::testing::Test {};
using PlayerCounts =
    ::testing::Types<std::integral_constant<std::size_t, 1>, std::integral_constant<std::size_t, 2>,
                     std::integral_constant<std::size_t, 3>,
                     std::integral_constant<std::size_t, 4>>;
TYPED_TEST_SUITE(IndexedActionSpaceTest, PlayerCounts);

// Every state of random games, whatever the rules lead to.
TYPED_TEST(IndexedActionSpaceTest, MatchesTheListAlongRandomGames) {
  constexpr std::size_t N = TypeParam::value;
  util::ChaCha12Rng choice = util::ChaCha12Rng::from_seed(N);
  for (std::uint64_t seed = 0; seed < 150; ++seed) {
    State<N> state = State<N>::create(seed);
    for (int step = 0;; ++step) {
      expect_same_spaces(state, "seed " + std::to_string(seed) + " step " + std::to_string(step));
      if (this->HasFatalFailure()) return;
      const std::vector<Action> actions = state.get_action_space();
      if (actions.empty() || state.step(actions[choice.gen_below(actions.size())])) break;
    }
  }
}

// Discards the rules rarely reach: any hand of up to eight cards (both jesters included in a
// four-player game) against any amount, with Diamonds in and out, refills left or not.
TYPED_TEST(IndexedActionSpaceTest, MatchesTheListForAnyDiscard) {
  constexpr std::size_t N = TypeParam::value;
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(100 + N);
  const std::vector<Card> deck = testing::card_vector(
      "SA S2 S5 S10 SK HA H3 H4 H5 HQ DA D2 D3 D5 D10 DJ CA C2 C4 C5 CK Jester Jester");
  for (int i = 0; i < 3000; ++i) {
    State<N> state = State<N>::create(static_cast<std::uint64_t>(i));
    std::vector<Card> cards = deck;
    util::shuffle(std::span<Card>(cards), rng);
    const std::size_t size = rng.gen_below(9);
    Hand& held = state.players[state.has_turn.id].hand;
    held.clear();
    for (std::size_t c = 0; c < size; ++c) held.push_back(cards[c]);
    state.action_type = ActionType::discard(static_cast<std::uint8_t>(rng.gen_below(45)));
    if (i % 3 == 0) state.action_type = ActionType::play_cards();
    state.hand_refills_left = static_cast<std::uint8_t>(rng.gen_below(3));
    expect_same_spaces(state, "case " + std::to_string(i));
    if (this->HasFatalFailure()) return;
  }
}

TEST(ActionCode, KeepsPlayerIndicesAndEmptyActions) {
  const Hand none;
  for (std::size_t id : {0u, 3u, 1000u}) {
    const Action action = Action::change_player({id});
    EXPECT_EQ(ActionCode(none, action).action(none), action);
  }
  EXPECT_EQ(ActionCode(none, Action::yield()).action(none), Action::yield());
  EXPECT_EQ(ActionCode(none, Action::refill_hand()).action(none), Action::refill_hand());
  EXPECT_NE(ActionCode(none, Action::yield()), ActionCode(none, Action::refill_hand()));
  EXPECT_THROW(ActionCode(none, Action::change_player({std::size_t{1} << 24})), util::Failure);
}

// Codes hold positions: they read the cards back in the action's order from an equal hand, and
// refuse a card the hand lacks or a hand too short for a position.
TEST(ActionCode, HoldsHandPositions) {
  const std::vector<Card> cards = testing::card_vector("S2 H5 Jester CK H5 DA Jester SA");
  const Hand hand = Hand::from_range(cards);
  const Action combo = Action::combo(testing::card_vector("SA S2"));
  const ActionCode code(hand, combo);
  EXPECT_EQ(code.action(hand), combo);
  const Action discard = Action::discard(testing::card_vector("Jester H5 Jester"));
  EXPECT_EQ(ActionCode(hand, discard).action(hand), discard);
  EXPECT_EQ(ActionCode(hand, Action::play(Card{CardSuit::Hearts, CardValue::Five}))
                .action(Hand::from_range(testing::card_vector("S2 H5"))),
            Action::play(Card{CardSuit::Hearts, CardValue::Five}));
  EXPECT_THROW(ActionCode(hand, Action::play(Card{CardSuit::Clubs, CardValue::Two})),
               util::Failure);
  EXPECT_THROW(code.action(Hand::from_range(testing::card_vector("S2 H5"))), util::Failure);
}

}  // namespace
}  // namespace vardelic::game
