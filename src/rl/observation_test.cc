#include "rl/observation.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "game/information.h"
#include "game/state.h"
#include "rl/rl_testing.h"
#include "testing/game_testing.h"

namespace vardelic::rl {
namespace {

using game::State;
using vardelic::testing::bare_state;
using vardelic::testing::card;
using vardelic::testing::hand;
using vardelic::testing::pile;

using Observation = std::array<float, kObservationSize>;

template <std::size_t N>
Observation observe(const State<N>& state, std::size_t observer) {
  Observation out;
  out.fill(-1.0f);  // every value must be written
  write_observation(state, observer, out.data());
  return out;
}

template <typename T>
class NoLeak : public ::testing::Test {};
using PlayerCounts = ::testing::Types<State<1>, State<2>, State<3>, State<4>>;
TYPED_TEST_SUITE(NoLeak, PlayerCounts);

// For every player at every position of 1,000 random games, dealing again what that player
// cannot see leaves its observation as it was.
TYPED_TEST(NoLeak, HiddenCardsDealtAgainChangeNothing) {
  constexpr std::size_t N = TypeParam::kPlayers;
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(7 * N);
  std::size_t redealt = 0;  // re-deals that moved a hidden card: the test is not vacuous
  testing::play_random_games<N>(N * 1000, 1000, 0, [&](const Episode<N>& episode) {
    const State<N>& state = episode.state();
    for (std::size_t observer = 0; observer < N; ++observer) {
      State<N> other = game::deal_hidden(state, observer, rng);
      ASSERT_TRUE(other.players[observer] == state.players[observer]);
      ASSERT_TRUE(other.table.discard_pile == state.table.discard_pile);
      other.rng_seed = state.rng_seed;  // always drawn again; count moved cards only
      redealt += !(other == state);
      ASSERT_EQ(observe(other, observer), observe(state, observer))
          << "observer " << observer << " of " << N;
    }
  });
  EXPECT_GT(redealt, 1000u);
}

// The fields of one hand-made position of three players, seen by each player.
TEST(Observation, FieldsOfAKnownPosition) {
  State<3> state = bare_state<3>("SQ", "CK HQ");
  state.players[0].hand = hand("HA Jester");
  state.players[1].hand = hand("C10 S2 D2");
  state.players[2].hand = hand("DK");
  state.table.attack_cards = pile("S7 H5");
  state.table.discard_pile = pile("DJ S7");  // two ♠7 cannot happen; only counts matter here
  state.table.tavern_deck = pile("C3 C4 C5 C6");
  state.table.current_enemy_mut()->take_damage(12);
  state.table.current_enemy_mut()->decrease_attack(5);
  state.has_turn = game::PlayerId{1};
  state.action_type = game::ActionType::discard(10);
  state.times_yielded = 1;

  const Observation seen_by_0 = observe(state, 0);
  const Observation seen_by_1 = observe(state, 1);

  // Own hand by slot: ♥A in slot 0 (suit Hearts, value Ace), the jester in slot 1 (no suit).
  const float* slot0 = seen_by_0.data() + field::kHandSlots;
  EXPECT_EQ(std::vector<float>(slot0, slot0 + kSlotWidth),
            (std::vector<float>{0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  const float* slot1 = slot0 + kSlotWidth;
  EXPECT_EQ(std::vector<float>(slot1, slot1 + kSlotWidth),
            (std::vector<float>{0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(seen_by_0[field::kHandCards + card_kind(card("HA"))], 1.0f);
  EXPECT_EQ(seen_by_0[field::kHandCards + 52], 1.0f);
  EXPECT_EQ(seen_by_0[field::kHandSize], 2.0f);
  EXPECT_EQ(seen_by_1[field::kHandValue], 14.0f);

  // The Queen of Spades: enemy 1 * 4 + 0, 12 damage of 30, attack 15 - 5, immune to Spades.
  for (const Observation& o : {seen_by_0, seen_by_1}) {
    EXPECT_EQ(o[field::kEnemyPresent], 1.0f);
    EXPECT_EQ(o[field::kEnemyCard + 4], 1.0f);
    EXPECT_EQ(o[field::kEnemyDamage], 12.0f);
    EXPECT_EQ(o[field::kEnemyHealth], 18.0f);
    EXPECT_EQ(o[field::kEnemyAttack], 10.0f);
    EXPECT_EQ(o[field::kEnemyImmuneSuit + 0], 1.0f);
    EXPECT_EQ(o[field::kEnemyJesterApplied], 0.0f);
    EXPECT_EQ(o[field::kPhase + 1], 1.0f);
    EXPECT_EQ(o[field::kDiscardOwed], 10.0f);
    EXPECT_EQ(o[field::kAttackCards + card_kind(card("S7"))], 1.0f);
    EXPECT_EQ(o[field::kDiscardPile + card_kind(card("DJ"))], 1.0f);
    EXPECT_EQ(std::vector<float>(o.begin() + field::kPileSizes, o.begin() + field::kPileSizes + 4),
              (std::vector<float>{4, 2, 2, 3}));
    EXPECT_EQ(o[field::kEnemiesDefeated], 9.0f);
    EXPECT_EQ(std::vector<float>(o.begin() + field::kEnemiesLeftByRank,
                                 o.begin() + field::kEnemiesLeftByRank + 3),
              (std::vector<float>{0, 2, 1}));
    EXPECT_EQ(o[field::kEnemiesLeft + 1 * 4 + 1], 1.0f);  // ♥Q
    EXPECT_EQ(o[field::kEnemiesLeft + 2 * 4 + 3], 1.0f);  // ♣K
    EXPECT_EQ(o[field::kTimesYielded], 1.0f);
    EXPECT_EQ(o[field::kNumPlayers + 2], 1.0f);
  }
  // Seats relative to the observer: player 1 moves, 1 place after player 0 and 0 after itself.
  EXPECT_EQ(seen_by_0[field::kToMove + 1], 1.0f);
  EXPECT_EQ(seen_by_1[field::kToMove + 0], 1.0f);
  EXPECT_EQ(std::vector<float>(seen_by_0.begin() + field::kOtherHandSizes,
                               seen_by_0.begin() + field::kOtherHandSizes + 3),
            (std::vector<float>{3, 1, 0}));
  EXPECT_EQ(std::vector<float>(seen_by_1.begin() + field::kOtherHandSizes,
                               seen_by_1.begin() + field::kOtherHandSizes + 3),
            (std::vector<float>{1, 2, 0}));

  // A jester lifts the immunity; without an enemy, no enemy field is set.
  state.table.current_enemy_mut()->apply_jester();
  const Observation jester = observe(state, 0);
  EXPECT_EQ(jester[field::kEnemyImmuneSuit + 0], 0.0f);
  EXPECT_EQ(jester[field::kEnemyJesterApplied], 1.0f);
  state.table.castle_deck.clear();
  const Observation won = observe(state, 0);
  for (std::size_t i = field::kEnemyPresent; i < field::kPhase; ++i) EXPECT_EQ(won[i], 0.0f) << i;
  EXPECT_THROW(observe(state, 3), std::invalid_argument);
}

}  // namespace
}  // namespace vardelic::rl
