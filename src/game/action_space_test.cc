#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "game/action.h"
#include "game/state.h"
#include "testing/game_testing.h"
#include "util/rng.h"

namespace vardelic::game {
namespace {

using testing::bare_state;
using testing::card;
using testing::card_vector;
using testing::hand;
using testing::pile;

Action play(const char* c) { return Action::play(card(c)); }
Action animal(const char* a, const char* b) { return Action::animal_combo(card(a), card(b)); }
Action combo(const char* cards) { return Action::combo(card_vector(cards)); }
Action discard(const char* cards) { return Action::discard(card_vector(cards)); }

std::vector<std::string> texts(const std::vector<Action>& actions) {
  std::vector<std::string> out;
  for (const Action& a : actions) out.push_back(action_text(a));
  return out;
}

// The action space of player `mover` holding `cards` with the given obligation.
template <std::size_t N>
std::vector<Action> space(const char* cards, ActionType type = ActionType::play_cards(),
                          std::size_t mover = 0, std::uint8_t refills = 0) {
  State<N> state = bare_state<N>("HJ", "CK");
  state.has_turn = PlayerId{mover};
  state.players[mover].hand = hand(cards);
  state.action_type = type;
  state.hand_refills_left = refills;
  return state.get_action_space();
}

TEST(AttackActions, AcesPairWithEveryOtherCardButTheJester) {
  EXPECT_EQ(texts(space<2>("SA HA C5 Jester")),
            texts({play("SA"), play("HA"), play("C5"), Action::play(kJester), animal("SA", "C5"),
                   animal("HA", "SA"), animal("HA", "C5"), Action::yield()}));
}

TEST(AttackActions, PairsOfAcesTakeTheHigherSuitFirstInHandOrder) {
  EXPECT_EQ(texts(space<2>("CA SA DA HA")),
            texts({play("CA"), play("SA"), play("DA"), play("HA"), animal("CA", "SA"),
                   animal("CA", "DA"), animal("CA", "HA"), animal("DA", "SA"), animal("DA", "HA"),
                   animal("HA", "SA"), Action::yield()}));
}

TEST(AttackActions, AnAcePairsWithRoyalsAndTens) {
  EXPECT_EQ(texts(space<3>("SK DA H10")),
            texts({play("SK"), play("DA"), play("H10"), animal("DA", "SK"), animal("DA", "H10"),
                   Action::yield()}));
}

TEST(AttackActions, SameValueCombosWorthAtMostTen) {
  struct Case {
    const char* hand;
    std::vector<Action> combos;
  };
  const Case cases[] = {
      {"S2 H2 D2 C2",
       {combo("S2 H2"), combo("S2 D2"), combo("S2 C2"), combo("H2 D2"), combo("H2 C2"),
        combo("D2 C2"), combo("S2 H2 D2"), combo("S2 H2 C2"), combo("S2 D2 C2"), combo("H2 D2 C2"),
        combo("S2 H2 D2 C2")}},
      {"S5 H5 D5", {combo("S5 H5"), combo("S5 D5"), combo("H5 D5")}},
      {"C3 S3 H3 D3",
       {combo("C3 S3"), combo("C3 H3"), combo("C3 D3"), combo("S3 H3"), combo("S3 D3"),
        combo("H3 D3"), combo("C3 S3 H3"), combo("C3 S3 D3"), combo("C3 H3 D3"),
        combo("S3 H3 D3")}},
      {"S4 H4 D4", {combo("S4 H4"), combo("S4 D4"), combo("H4 D4")}},
      {"S6 H6 S7 H7 S10 H10 SJ HJ", {}},
      // Values are grouped Two, Three, Four, Five whatever the hand order.
      {"S5 D3 H2 C5 S3 D2", {combo("H2 D2"), combo("D3 S3"), combo("S5 C5")}},
      {"S2", {}},
  };
  for (const Case& c : cases) {
    std::vector<Action> got = space<1>(c.hand);
    std::vector<Action> combos;
    for (const Action& a : got) {
      if (a.kind() == ActionKind::Combo) combos.push_back(a);
    }
    EXPECT_EQ(texts(combos), texts(c.combos)) << c.hand;
    // Combos come after every single play and animal combo, right before the final yield.
    ASSERT_GE(got.size(), c.combos.size() + 1);
    EXPECT_EQ(got.back(), Action::yield()) << c.hand;
    const auto first = got.end() - 1 - static_cast<std::ptrdiff_t>(c.combos.size());
    EXPECT_EQ(texts(std::vector<Action>(first, got.end() - 1)), texts(c.combos)) << c.hand;
  }
}

TEST(AttackActions, AnEmptyHandCanOnlyYield) {
  EXPECT_EQ(texts(space<2>("")), texts({Action::yield()}));
}

TEST(AttackActions, TwoJestersGiveTwoEqualPlays) {
  std::vector<Action> got = space<4>("Jester S3 Jester");
  EXPECT_EQ(texts(got),
            texts({Action::play(kJester), play("S3"), Action::play(kJester), Action::yield()}));
}

TEST(DiscardActions, EveryCoveringCombinationBySizeThenOrder) {
  EXPECT_EQ(texts(space<2>("S3 H4 D10", ActionType::discard(7))),
            texts({discard("D10"), discard("S3 H4"), discard("S3 D10"), discard("H4 D10"),
                   discard("S3 H4 D10")}));
}

TEST(DiscardActions, TheJesterCountsZeroButMayBeDiscarded) {
  EXPECT_EQ(texts(space<3>("Jester S5", ActionType::discard(5))),
            texts({discard("S5"), discard("Jester S5")}));
  // Two jesters are told apart by position.
  EXPECT_EQ(texts(space<4>("Jester C9 Jester", ActionType::discard(9))),
            texts({discard("C9"), discard("Jester C9"), discard("C9 Jester"),
                   discard("Jester C9 Jester")}));
}

TEST(DiscardActions, CountsAndEmptyLists) {
  struct Case {
    const char* hand;
    std::uint8_t amount;
    std::size_t count;
  };
  for (Case c : {Case{"S2 S3 S4 S5 S6 S7 S8 S9", 1, 255}, Case{"S2 S3 S4 S5 S6 S7 S8 S9", 44, 1},
                 Case{"S2 S3 S4 S5 S6 S7 S8 S9", 45, 0}, Case{"CK", 20, 1}, Case{"CK", 21, 0},
                 Case{"", 1, 0}, Case{"HQ D4", 15, 2}}) {
    std::vector<Action> got = space<1>(c.hand, ActionType::discard(c.amount));
    EXPECT_EQ(got.size(), c.count) << c.hand << " / " << int{c.amount};
    for (const Action& a : got) {
      EXPECT_EQ(a.kind(), ActionKind::Discard);
      EXPECT_GE(attack_sum(a.cards()), c.amount);
    }
  }
}

TEST(JesterActions, EveryPlayerInIndexOrder) {
  for (std::size_t mover = 0; mover < 3; ++mover) {
    EXPECT_EQ(texts(space<3>("S2", ActionType::jester(), mover)),
              texts({Action::change_player({0}), Action::change_player({1}),
                     Action::change_player({2})}));
  }
  EXPECT_EQ(texts(space<1>("S2", ActionType::jester())), texts({Action::change_player({0})}));
}

TEST(RefillHand, ListedLastInSoloWhateverTheObligation) {
  for (ActionType type : {ActionType::play_cards(), ActionType::discard(3), ActionType::jester()}) {
    for (std::uint8_t refills : {1, 2}) {
      std::vector<Action> got = space<1>("S3 H4", type, 0, refills);
      ASSERT_FALSE(got.empty());
      EXPECT_EQ(got.back(), Action::refill_hand());
      EXPECT_EQ(std::count(got.begin(), got.end(), Action::refill_hand()), 1);
      std::vector<Action> without = space<1>("S3 H4", type, 0, 0);
      got.pop_back();
      EXPECT_EQ(got, without);
      EXPECT_EQ(std::count(without.begin(), without.end(), Action::refill_hand()), 0);
    }
  }
}

TEST(RefillHand, NeverListedWithSeveralPlayers) {
  auto has_refill = [](const std::vector<Action>& actions) {
    return std::find(actions.begin(), actions.end(), Action::refill_hand()) != actions.end();
  };
  for (ActionType type : {ActionType::play_cards(), ActionType::discard(3), ActionType::jester()}) {
    EXPECT_FALSE(has_refill(space<2>("S3 H4", type, 0, 2)));
    EXPECT_FALSE(has_refill(space<3>("S3 H4", type, 1, 2)));
    EXPECT_FALSE(has_refill(space<4>("S3 H4", type, 3, 2)));
  }
}

TEST(RefillHand, AHandThatCannotCoverListsOnlyTheRefill) {
  EXPECT_EQ(texts(space<1>("S2 H3", ActionType::discard(10), 0, 1)),
            texts({Action::refill_hand()}));
  EXPECT_TRUE(space<1>("S2 H3", ActionType::discard(10), 0, 0).empty());
}

TEST(PruneBadMoves, DropsDiscardsHoldingADiamond) {
  const std::vector<Action> mixed = {play("D5"),       discard("D5"),        discard("S5"),
                                     discard("S2 D3"), combo("D2 H2"),       Action::yield(),
                                     discard("H9 C9"), Action::refill_hand()};
  EXPECT_EQ(texts(prune_bad_moves(mixed)),
            texts({play("D5"), discard("S5"), combo("D2 H2"), Action::yield(), discard("H9 C9"),
                   Action::refill_hand()}));

  const std::vector<Action> all_bad = {discard("D5"), discard("S2 D3"), discard("D10 DK")};
  EXPECT_EQ(prune_bad_moves(all_bad), all_bad);
  EXPECT_TRUE(prune_bad_moves({}).empty());
  const std::vector<Action> none_bad = {discard("S5"), discard("Jester C4")};
  EXPECT_EQ(prune_bad_moves(none_bad), none_bad);
}

template <typename T>
class RandomPermutation : public ::testing::Test {};
using PlayerCounts =
    ::testing::Types<std::integral_constant<std::size_t, 1>, std::integral_constant<std::size_t, 2>,
                     std::integral_constant<std::size_t, 3>,
                     std::integral_constant<std::size_t, 4>>;
TYPED_TEST_SUITE(RandomPermutation, PlayerCounts);

TYPED_TEST(RandomPermutation, KeepsTheMoversHandAndEverythingVisible) {
  constexpr std::size_t N = TypeParam::value;
  for (std::uint64_t seed = 0; seed < 10; ++seed) {
    State<N> state = State<N>::create(seed);
    // Some play first, so the discard pile and attack cards hold cards.
    state.table.discard_cards(state.table.draw_cards(6));
    state.table.add_attack_cards(state.table.draw_cards(2));
    state.table.current_enemy_mut()->take_damage(2);
    state.has_turn = PlayerId{seed % N};
    state.times_yielded = N > 1 ? 1 : 0;
    util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(seed + 100);
    State<N> permuted = state.random_permutation(rng);

    EXPECT_EQ(permuted.players[state.has_turn.id], state.players[state.has_turn.id]);
    EXPECT_EQ(permuted.has_turn, state.has_turn);
    EXPECT_EQ(permuted.action_type, state.action_type);
    EXPECT_EQ(permuted.level, state.level);
    EXPECT_EQ(permuted.times_yielded, state.times_yielded);
    EXPECT_EQ(permuted.rng_seed, state.rng_seed);
    EXPECT_EQ(permuted.hand_refills_left, state.hand_refills_left);
    EXPECT_EQ(permuted.max_hand_size, state.max_hand_size);
    EXPECT_EQ(permuted.table.attack_cards, state.table.attack_cards);
    EXPECT_EQ(*permuted.current_enemy(), *state.current_enemy());
    EXPECT_EQ(testing::count_cards(permuted), testing::count_cards(state));
    for (std::size_t i = 0; i < N; ++i) {
      EXPECT_EQ(permuted.players[i].hand.size(), state.players[i].hand.size());
    }

    // The other hands go to Table::permute in player-index order.
    State<N> expected = state;
    std::vector<Hand*> others;
    for (std::size_t i = 0; i < N; ++i) {
      if (i != state.has_turn.id) others.push_back(&expected.players[i].hand);
    }
    util::ChaCha12Rng same = util::ChaCha12Rng::from_seed(seed + 100);
    expected.table.permute(others, same);
    EXPECT_EQ(permuted, expected);
  }
}

}  // namespace
}  // namespace vardelic::game
