#include "game/state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <variant>

#include "game/state_enum.h"
#include "testing/game_testing.h"
#include "util/debug_text.h"
#include "util/failure.h"
#include "util/rng.h"

namespace vardelic::game {
namespace {

using testing::bare_state;
using testing::card;
using testing::card_vector;
using testing::hand;
using testing::pile;

// The successor of an action that must leave the game in progress.
template <std::size_t N>
State<N> after(const State<N>& state, const Action& action) {
  GameStatus<N> status = state.apply_action(action);
  if (const auto* result = std::get_if<GameResult>(&status)) {
    ADD_FAILURE() << action_text(action) << " ended the game: " << util::debug_text(*result);
    return state;
  }
  return std::get<State<N>>(status);
}

// The result of an action that must end the game.
template <std::size_t N>
std::optional<GameResult> result_of(const State<N>& state, const Action& action) {
  GameStatus<N> status = state.apply_action(action);
  if (const auto* result = std::get_if<GameResult>(&status)) return *result;
  return std::nullopt;
}

template <typename T>
class ByPlayers : public ::testing::Test {};
using PlayerCounts =
    ::testing::Types<std::integral_constant<std::size_t, 1>, std::integral_constant<std::size_t, 2>,
                     std::integral_constant<std::size_t, 3>,
                     std::integral_constant<std::size_t, 4>>;
TYPED_TEST_SUITE(ByPlayers, PlayerCounts);

TYPED_TEST(ByPlayers, NewGameDealsFromTheSeed) {
  constexpr std::size_t N = TypeParam::value;
  const std::size_t max_hand = 9 - N;
  const std::size_t jesters = N <= 2 ? 0 : N - 2;
  for (std::uint64_t seed : {0ull, 5ull, 0xFFFFFFFFFFFFFFFFull}) {
    State<N> state = State<N>::create(seed);
    EXPECT_EQ(state.max_hand_size, max_hand);
    EXPECT_EQ(state.has_turn, PlayerId{0});
    EXPECT_EQ(state.times_yielded, 0u);
    EXPECT_EQ(state.action_type, ActionType::play_cards());
    EXPECT_EQ(state.has_ended, std::nullopt);
    EXPECT_EQ(state.level, 0);
    EXPECT_EQ(state.reward(), 0);
    EXPECT_EQ(state.hand_refills_left, N == 1 ? 2 : 0);
    EXPECT_TRUE(state.table.discard_pile.empty());
    EXPECT_TRUE(state.table.attack_cards.empty());
    EXPECT_EQ(state.table.tavern_deck.size(), 40 + jesters - N * max_hand);
    EXPECT_TRUE(testing::check_invariants(state));

    // The table first, then the hands from the top of the tavern deck, player 0 first, then
    // the seed of the next random step from the same generator.
    util::ChaCha12Rng rng = new_rng(seed);
    Table table = Table::create(jesters, rng);
    for (std::size_t i = 0; i < N; ++i) {
      EXPECT_EQ(state.players[i].id, PlayerId{i});
      EXPECT_EQ(state.players[i].hand, table.draw_cards(max_hand)) << "player " << i;
    }
    EXPECT_EQ(state.table, table);
    EXPECT_EQ(state.rng_seed, rng.next_u64());

    EXPECT_EQ(State<N>::create(seed), state);
    EXPECT_NE(State<N>::create(seed + 1), state);
  }
  EXPECT_NE(State<N>::create(std::nullopt), State<N>::create(std::nullopt));
  EXPECT_TRUE(testing::check_invariants(State<N>::create(std::nullopt)));
}

TYPED_TEST(ByPlayers, TheNthConsecutiveYieldLoses) {
  constexpr std::size_t N = TypeParam::value;
  State<N> state = bare_state<N>("HJ", "CK");
  const char* tens[] = {"S10", "D10", "C10", "S9 SA"};
  for (std::size_t i = 0; i < N; ++i) state.players[i].hand = hand(tens[i]);
  for (std::size_t i = 0; i + 1 < N; ++i) {
    state = after(state, Action::yield());
    EXPECT_EQ(state.times_yielded, i + 1);
    EXPECT_EQ(state.has_turn, PlayerId{i});
    ASSERT_EQ(state.action_type, ActionType::discard(10)) << "the enemy strikes back";
    EXPECT_EQ(state.current_enemy()->health(), 20);
    state = after(state, Action::discard(state.players[i].hand));
    EXPECT_EQ(state.times_yielded, i + 1) << "a discard keeps the count";
    EXPECT_EQ(state.has_turn, PlayerId{i + 1});
  }
  EXPECT_EQ(result_of(state, Action::yield()), GameResult::Lost(10));
}

TEST(Yield, SoloYieldFromAFreshGameLoses) {
  for (std::uint64_t seed = 0; seed < 5; ++seed) {
    EXPECT_EQ(result_of(State<1>::create(seed), Action::yield()), GameResult::Lost(0));
  }
}

TEST(Yield, APlayBetweenYieldsResetsTheCount) {
  State<2> state = bare_state<2>("HJ", "CK");
  state.players[0].hand = hand("S10 D9");
  state.players[1].hand = hand("S8 H7 C3");
  state = after(state, Action::yield());
  state = after(state, Action::discard(hand("S10")));
  EXPECT_EQ(state.times_yielded, 1u);
  state = after(state, Action::play(card("S8")));  // attack 10 - 8 = 2
  EXPECT_EQ(state.times_yielded, 0u);
  ASSERT_EQ(state.action_type, ActionType::discard(2));
  state = after(state, Action::discard(hand("C3")));
  EXPECT_EQ(state.has_turn, PlayerId{0});
  state = after(state, Action::yield());
  EXPECT_EQ(state.times_yielded, 1u);
  EXPECT_EQ(state.action_type, ActionType::discard(2));
}

TEST(Attack, HeartsHealsBeforeClubsDoubles) {
  // The pair of Fives against the Queen of Spades: 10 damage heals 10 cards, the hit is 20.
  State<2> state = bare_state<2>("SQ", "CK");
  state.players[0].hand = hand("H5 C5 D10 H9");
  state.table.discard_pile = pile("S2 S3 S4 S5 S6 S7 S8 S9 S10 H2 H3 H4 H6 H7 H8");
  state.table.tavern_deck = pile("D2 D3");
  State<2> next = after(state, Action::combo(hand("H5 C5")));
  EXPECT_EQ(next.current_enemy()->health(), 10);
  EXPECT_EQ(next.current_enemy()->attack_value(), 15);
  EXPECT_EQ(next.table.tavern_deck.size(), 12u);
  EXPECT_EQ(next.table.tavern_deck.back(), card("D3"));
  EXPECT_EQ(next.table.discard_pile.size(), 5u);
  EXPECT_EQ(next.table.attack_cards, pile("H5 C5"));
  EXPECT_EQ(next.players[0].hand, hand("D10 H9"));
  EXPECT_EQ(next.action_type, ActionType::discard(15));
  EXPECT_EQ(next.has_turn, PlayerId{0});
}

TEST(Attack, EachPowerActsUnlessTheEnemyIsImmune) {
  for (CardSuit enemy_suit : kRealSuits) {
    for (CardSuit card_suit : kRealSuits) {
      for (bool jester : {false, true}) {
        const Card played{card_suit, CardValue::Four};
        State<2> state = bare_state<2>("");
        state.table.castle_deck.push_back(Enemy::create(card("CK")));
        state.table.castle_deck.push_back(Enemy::create({enemy_suit, CardValue::Jack}));
        if (jester) state.table.castle_deck.back().apply_jester();
        state.players[0].hand = hand("S9 H9");
        state.players[0].hand.insert(0, played);
        state.players[1].hand = hand("D2");
        state.table.discard_pile = pile("S7 H7 D7 C7");
        state.table.tavern_deck = pile("S8 H8 D8 C8 S6 H6");

        const State<2> next = after(state, Action::play(played));
        const bool active = card_suit != enemy_suit || jester;
        const std::string where = "enemy " + std::string(suit_name(enemy_suit)) + ", card " +
                                  std::string(suit_name(card_suit)) + (jester ? ", jester" : "");
        const Enemy& e = *next.current_enemy();
        bool spades = active && card_suit == CardSuit::Spades;
        bool hearts = active && card_suit == CardSuit::Hearts;
        bool diamonds = active && card_suit == CardSuit::Diamonds;
        bool clubs = active && card_suit == CardSuit::Clubs;
        EXPECT_EQ(e.attack_value(), spades ? 6 : 10) << where;
        EXPECT_EQ(next.table.discard_pile.size(), hearts ? 0u : 4u) << where;
        EXPECT_EQ(next.rng_seed != state.rng_seed, hearts) << where;
        EXPECT_EQ(next.table.tavern_deck.size(), hearts ? 10u : diamonds ? 2u : 6u) << where;
        EXPECT_EQ(next.players[0].hand.size(), diamonds ? 4u : 2u) << where;
        EXPECT_EQ(next.players[1].hand.size(), diamonds ? 3u : 1u) << where;
        EXPECT_EQ(e.health(), clubs ? 12 : 16) << where;
        EXPECT_EQ(next.action_type, ActionType::discard(e.attack_value())) << where;
      }
    }
  }
}

TEST(Attack, DiamondsDrawsForTheUndoubledDamage) {
  // Ace of Clubs with the Nine of Diamonds: 10 cards are dealt, the hit is 20, an exact kill.
  State<2> state = bare_state<2>("SJ", "CK");
  state.players[0].hand = hand("CA D9 S10 H10");
  state.table.tavern_deck = pile("H2 H3 H4 H5 H6 H7 H8 H9 C2 C3 C4 C5 C6 C7 C8 C9 S2 S3 S4 S5");
  State<2> next = after(state, Action::animal_combo(card("CA"), card("D9")));
  EXPECT_EQ(next.players[0].hand.size(), 7u);
  EXPECT_EQ(next.players[1].hand.size(), 5u);
  EXPECT_EQ(next.table.tavern_deck.size(), 11u);
  EXPECT_EQ(next.table.tavern_deck.back(), card("SJ"));
  EXPECT_EQ(next.level, state.level + 1);
}

TEST(Attack, SpadesLowerByTheUndoubledDamage) {
  State<2> state = bare_state<2>("HJ", "CK");
  state.players[0].hand = hand("CA S6 D5");
  State<2> next = after(state, Action::animal_combo(card("CA"), card("S6")));
  EXPECT_EQ(next.current_enemy()->attack_value(), 3);
  EXPECT_EQ(next.current_enemy()->health(), 6);
  EXPECT_EQ(next.action_type, ActionType::discard(3));
}

TEST(Attack, AttackLoweredToZeroPassesTheTurn) {
  State<2> state = bare_state<2>("HJ", "CK");
  state.players[0].hand = hand("S10");
  state.players[1].hand = hand("D3");
  State<2> next = after(state, Action::play(card("S10")));
  EXPECT_EQ(next.current_enemy()->attack_value(), 0);
  EXPECT_EQ(next.current_enemy()->health(), 10);
  EXPECT_EQ(next.action_type, ActionType::play_cards());
  EXPECT_EQ(next.has_turn, PlayerId{1});
  // With attack 0 even an empty hand survives the next strike.
  next = after(next, Action::play(card("D3")));
  EXPECT_EQ(next.has_turn, PlayerId{0});
}

TEST(Diamonds, RotationStartsAtPlayerZeroNotTheMover) {
  State<2> state = bare_state<2>("SJ", "CK");
  state.has_turn = PlayerId{1};
  state.players[0].hand = hand("S2");
  state.players[1].hand = hand("D3 S5 H10");
  state.table.tavern_deck = pile("C6 C7 C8 C9");
  State<2> next = after(state, Action::play(card("D3")));
  EXPECT_EQ(next.players[0].hand, hand("S2 C9 C7"));
  EXPECT_EQ(next.players[1].hand, hand("S5 H10 C8"));
  EXPECT_EQ(next.table.tavern_deck, pile("C6"));
}

TEST(Diamonds, FullHandsAreSkipped) {
  State<3> state = bare_state<3>("SJ", "CK");
  state.has_turn = PlayerId{2};
  state.players[0].hand = hand("S2 S3 S4 S5 S6 S7");
  state.players[1].hand = hand("H2 H3 H4 H5");
  state.players[2].hand = hand("D4 H6 H7 H8 H9");
  state.table.tavern_deck = pile("C2 C3 C4 C5 C6 C7");
  State<3> next = after(state, Action::play(card("D4")));
  EXPECT_EQ(next.players[0].hand, hand("S2 S3 S4 S5 S6 S7"));
  EXPECT_EQ(next.players[1].hand, hand("H2 H3 H4 H5 C7 C6"));
  EXPECT_EQ(next.players[2].hand, hand("H6 H7 H8 H9 C5 C4"));
  EXPECT_EQ(next.table.tavern_deck, pile("C2 C3"));
}

TEST(Diamonds, OnceEveryHandIsFullNothingMoreIsDrawn) {
  // Ten cards are due, but only the two places left in the mover's hand take any.
  State<2> state = bare_state<2>("SJ", "CK");
  state.players[0].hand = hand("DA D9 S2 S3 S4 S5 S6");
  state.players[1].hand = hand("H2 H3 H4 H5 H6 H7 H8");
  state.table.tavern_deck = pile("C2 C3 C4 C5 C6 C7 C8 C9 C10 CA");
  State<2> next = after(state, Action::animal_combo(card("DA"), card("D9")));
  EXPECT_EQ(next.players[0].hand, hand("S2 S3 S4 S5 S6 CA C10"));
  EXPECT_EQ(next.players[1].hand.size(), 7u);
  EXPECT_EQ(next.table.tavern_deck.size(), 8u);
}

TEST(Diamonds, AnEmptyTavernDeckDealsWhatItHas) {
  State<2> state = bare_state<2>("SJ", "CK");
  state.players[0].hand = hand("D5 H10");
  state.table.tavern_deck = pile("C2");
  State<2> next = after(state, Action::play(card("D5")));
  EXPECT_EQ(next.players[0].hand, hand("H10 C2"));
  EXPECT_TRUE(next.players[1].hand.empty());
  EXPECT_TRUE(next.table.tavern_deck.empty());
}

TEST(Jester, SpadesBlockedByASpadesEnemyActOnceTheJesterIsPlayed) {
  State<3> state = bare_state<3>("SJ", "CK");
  state.players[0].hand = hand("S4 H10 C10");
  state.players[1].hand = hand("S3 D10 D9");
  state.players[2].hand = hand("Jester S2 H9 C9");

  state = after(state, Action::play(card("S4")));
  EXPECT_EQ(state.current_enemy()->attack_value(), 10) << "immune to spades";
  state = after(state, Action::discard(hand("H10")));
  state = after(state, Action::play(card("S3")));
  EXPECT_EQ(state.current_enemy()->attack_value(), 10);
  state = after(state, Action::discard(hand("D10")));
  ASSERT_EQ(state.has_turn, PlayerId{2});

  state = after(state, Action::play(kJester));
  EXPECT_EQ(state.current_enemy()->attack_value(), 3) << "10 minus the 7 of spades played";
  EXPECT_TRUE(state.current_enemy()->jester_applied());
  EXPECT_EQ(state.current_enemy()->health(), 13);
  EXPECT_EQ(state.action_type, ActionType::jester());
  EXPECT_EQ(state.has_turn, PlayerId{2});
  EXPECT_EQ(state.table.attack_cards, pile("S4 S3 Jester"));
  EXPECT_EQ(state.players[2].hand, hand("S2 H9 C9"));

  state = after(state, Action::change_player(PlayerId{2}));
  EXPECT_EQ(state.action_type, ActionType::play_cards());
  state = after(state, Action::play(card("S2")));
  EXPECT_EQ(state.current_enemy()->attack_value(), 1) << "later spades act normally";
  EXPECT_EQ(state.action_type, ActionType::discard(1));
}

TEST(Jester, ASecondJesterDoesNotCountTheSpadesAgain) {
  State<4> state = bare_state<4>("SJ", "CK");
  state.table.current_enemy_mut()->decrease_attack(4);
  state.table.current_enemy_mut()->apply_jester();
  state.table.attack_cards = pile("S4 Jester");
  state.players[0].hand = hand("Jester S9");
  State<4> next = after(state, Action::play(kJester));
  EXPECT_EQ(next.current_enemy()->attack_value(), 6);
  EXPECT_EQ(next.action_type, ActionType::jester());
}

TEST(Jester, AgainstAnotherSuitItOnlyMarksTheEnemy) {
  State<3> state = bare_state<3>("HJ", "CK");
  state.table.attack_cards = pile("S5");
  state.players[1].hand = hand("Jester");
  state.has_turn = PlayerId{1};
  State<3> next = after(state, Action::play(kJester));
  const Enemy& e = *next.current_enemy();
  EXPECT_TRUE(e.jester_applied());
  EXPECT_EQ(e.attack_value(), 10);
  EXPECT_EQ(e.health(), 20);
  // An empty hand against attack 10, yet no strike back: a player is named next.
  EXPECT_EQ(next.action_type, ActionType::jester());
  EXPECT_EQ(next.has_turn, PlayerId{1});
  EXPECT_TRUE(next.players[1].hand.empty());
}

TEST(Jester, WithNoEnemyLeftTheGameIsWon) {
  State<3> state = bare_state<3>("");
  state.players[0].hand = hand("Jester");
  EXPECT_EQ(result_of(state, Action::play(kJester)), GameResult::Won());
}

TEST(ChangePlayer, NamesAnyPlayerAndResetsTheYields) {
  for (std::size_t id = 0; id < 4; ++id) {
    State<4> state = bare_state<4>("HJ", "CK");
    state.table.current_enemy_mut()->apply_jester();
    state.action_type = ActionType::jester();
    state.has_turn = PlayerId{2};
    state.times_yielded = 1;
    State<4> next = after(state, Action::change_player(PlayerId{id}));
    EXPECT_EQ(next.has_turn, PlayerId{id});
    EXPECT_EQ(next.action_type, ActionType::play_cards());
    EXPECT_EQ(next.times_yielded, 0u);
  }
}

TEST(ChangePlayer, APlayerNotAtTheTableIsRefused) {
  State<2> state = bare_state<2>("HJ", "CK");
  state.action_type = ActionType::jester();
  EXPECT_THROW(state.apply_action(Action::change_player(PlayerId{2})), util::Failure);
  EXPECT_THROW(state.apply_action(Action::change_player(PlayerId{7})), util::Failure);
}

TEST(Kill, OverkillDiscardsTheEnemyBeneathTheAttackCards) {
  State<2> state = bare_state<2>("HJ", "CK");
  state.table.current_enemy_mut()->take_damage(10);
  state.table.attack_cards = pile("S5 H5");
  state.table.discard_pile = pile("D2");
  state.players[0].hand = hand("C10 S3");
  State<2> next = after(state, Action::play(card("C10")));
  EXPECT_EQ(next.table.discard_pile, pile("D2 HJ S5 H5 C10"));
  EXPECT_TRUE(next.table.attack_cards.empty());
  EXPECT_EQ(next.level, state.level + 1);
  EXPECT_EQ(*next.current_enemy(), Enemy::create(card("CK")));
  EXPECT_EQ(next.has_turn, PlayerId{0});
  EXPECT_EQ(next.action_type, ActionType::play_cards());
  EXPECT_EQ(next.players[0].hand, hand("S3"));
}

TEST(Kill, ExactKillPutsTheEnemyOnTopOfTheTavernDeck) {
  State<1> state = bare_state<1>("HJ", "CK");
  state.table.current_enemy_mut()->take_damage(10);
  state.table.attack_cards = pile("S5");
  state.players[0].hand = hand("S10 D2 C3");
  state.table.tavern_deck = pile("C5 C6");
  State<1> next = after(state, Action::play(card("S10")));
  EXPECT_EQ(next.table.tavern_deck, pile("C5 C6 HJ"));
  EXPECT_EQ(next.table.discard_pile, pile("S5 S10"));
  EXPECT_EQ(next.level, state.level + 1);
  EXPECT_EQ(next.has_turn, PlayerId{0});
  EXPECT_EQ(next.action_type, ActionType::play_cards());

  // The next draw takes it.
  next = after(next, Action::refill_hand());
  EXPECT_EQ(next.players[0].hand, hand("HJ C6 C5"));
  EXPECT_EQ(next.table.discard_pile, pile("S5 S10 D2 C3"));
  EXPECT_TRUE(next.table.tavern_deck.empty());
}

TEST(Kill, TheWinIsDetectedOnTheNextAttackOrYield) {
  State<2> state = bare_state<2>("HJ");
  ASSERT_EQ(state.level, 11);
  state.table.current_enemy_mut()->take_damage(15);
  state.players[0].hand = hand("S10 C9");
  state.players[1].hand = hand("D8");
  State<2> last = after(state, Action::play(card("S10")));
  EXPECT_EQ(last.level, 12);
  EXPECT_EQ(last.reward(), 12);
  EXPECT_EQ(last.current_enemy(), nullptr);
  EXPECT_EQ(last.has_turn, PlayerId{0});
  EXPECT_EQ(result_of(last, Action::play(card("C9"))), GameResult::Won());
  EXPECT_EQ(result_of(last, Action::yield()), GameResult::Won());
}

TEST(StrikeBack, LossWhenTheHandCannotCoverTheAttack) {
  struct Case {
    const char* hand;
    bool lost;
  };
  // The Three of Spades leaves the Jack of Hearts with attack 7.
  for (Case c : {Case{"S3 C2 D4", true}, Case{"S3 C3 D4", false}, Case{"S3", true},
                 Case{"S3 Jester C6", true}, Case{"S3 CK", false}}) {
    State<1> state = bare_state<1>("HJ", "CK");
    state.level = 3;
    ASSERT_EQ(state.hand_refills_left, 2);
    state.players[0].hand = hand(c.hand);
    auto result = result_of(state, Action::play(card("S3")));
    if (c.lost) {
      EXPECT_EQ(result, GameResult::Lost(3)) << c.hand;
    } else {
      EXPECT_EQ(result, std::nullopt) << c.hand;
      EXPECT_EQ(after(state, Action::play(card("S3"))).action_type, ActionType::discard(7));
    }
  }
}

TEST(StrikeBack, AYieldThatCannotBeCoveredLoses) {
  State<2> state = bare_state<2>("HQ", "CK");
  state.level = 4;
  state.players[0].hand = hand("S10 D4");
  EXPECT_EQ(result_of(state, Action::yield()), GameResult::Lost(4));
}

TEST(Discard, RemovesOneCopyPerCardAndPassesTheTurn) {
  State<4> state = bare_state<4>("HJ", "CK");
  state.has_turn = PlayerId{3};
  state.action_type = ActionType::discard(5);
  state.times_yielded = 1;
  state.players[3].hand = hand("Jester S5 Jester H5");
  state.table.discard_pile = pile("D2");
  State<4> next = after(state, Action::discard(hand("H5 Jester")));
  EXPECT_EQ(next.players[3].hand, hand("S5 Jester"));
  EXPECT_EQ(next.table.discard_pile, pile("D2 H5 Jester"));
  EXPECT_EQ(next.has_turn, PlayerId{0});
  EXPECT_EQ(next.action_type, ActionType::play_cards());
  EXPECT_EQ(next.times_yielded, 1u);
}

TEST(RefillHand, ReplacesTheHandAndKeepsTheObligation) {
  State<1> state = bare_state<1>("HJ", "CK");
  state.action_type = ActionType::discard(10);
  state.players[0].hand = hand("S2 H3");
  state.table.discard_pile = pile("D9");
  state.table.tavern_deck = pile("C2 C3 C4 C5 C6 C7 C8 C9 C10 CA");
  State<1> next = after(state, Action::refill_hand());
  EXPECT_EQ(next.hand_refills_left, 1);
  EXPECT_EQ(next.table.discard_pile, pile("D9 S2 H3"));
  EXPECT_EQ(next.players[0].hand, hand("CA C10 C9 C8 C7 C6 C5 C4"));
  EXPECT_EQ(next.table.tavern_deck, pile("C2 C3"));
  EXPECT_EQ(next.action_type, ActionType::discard(10));
  EXPECT_EQ(next.has_turn, PlayerId{0});

  next = after(next, Action::refill_hand());
  EXPECT_EQ(next.hand_refills_left, 0);
  EXPECT_EQ(next.players[0].hand, hand("C3 C2")) << "fewer cards when the deck runs out";
  EXPECT_THROW(next.apply_action(Action::refill_hand()), util::Failure);
}

TEST(Hearts, CopiesOfAStateHealAlike) {
  State<2> state = State<2>::create(21);
  state.table.castle_deck.back() = Enemy::create(card("SJ"));
  state.players[0].hand = hand("H9 S10 C10");
  // Move cards that no hand holds to the discard pile so there is something to heal.
  for (int i = 0; i < 12; ++i) state.table.discard_card(*state.table.draw_card());
  const State<2> copy = state;
  State<2> a = after(state, Action::play(card("H9")));
  State<2> b = after(copy, Action::play(card("H9")));
  EXPECT_EQ(a, b);
  EXPECT_NE(a.rng_seed, state.rng_seed);

  // The step's generator is made from rng_seed; its first output becomes the next rng_seed
  // and the rest shuffles the discard pile.
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(state.rng_seed);
  EXPECT_EQ(a.rng_seed, rng.next_u64());
  Table expected = state.table;
  expected.add_attack_cards(hand("H9"));
  expected.heal_from_discard(9, rng);
  EXPECT_EQ(a.table.tavern_deck, expected.tavern_deck);
  EXPECT_EQ(a.table.discard_pile, expected.discard_pile);
}

TEST(Hearts, OtherPlaysKeepTheSeed) {
  State<2> state = bare_state<2>("HJ", "CK");
  state.players[0].hand = hand("S2 D3 C4 H5 S10");
  state.table.discard_pile = pile("S9");
  for (const char* c : {"S2", "D3", "C4"}) {
    EXPECT_EQ(after(state, Action::play(card(c))).rng_seed, state.rng_seed) << c;
  }
  // Immune to Hearts: no random step.
  EXPECT_EQ(after(state, Action::play(card("H5"))).rng_seed, state.rng_seed);
}

TEST(State, GetRngAdvancesTheSeed) {
  State<3> state = State<3>::create(8);
  const std::uint64_t seed = state.rng_seed;
  util::ChaCha12Rng rng = state.get_rng();
  util::ChaCha12Rng expected = util::ChaCha12Rng::from_seed(seed);
  EXPECT_EQ(state.rng_seed, expected.next_u64());
  EXPECT_EQ(rng, expected);
  util::ChaCha12Rng second = state.get_rng();
  EXPECT_NE(rng, second);
}

TEST(State, PlayCardsWithNothingIsAStrikeBackWithoutTheYieldCount) {
  State<2> state = bare_state<2>("HJ", "CK");
  state.players[0].hand = hand("S10 D9");
  GameStatus<2> by_play = state.play_cards(Hand{});
  ASSERT_TRUE(std::holds_alternative<State<2>>(by_play));
  State<2> struck = std::get<State<2>>(by_play);
  EXPECT_EQ(struck.action_type, ActionType::discard(10));
  EXPECT_EQ(struck.times_yielded, 0u);
  State<2> yielded = after(state, Action::yield());
  yielded.times_yielded = 0;
  EXPECT_EQ(struck, yielded);
}

TEST(State, MakeMoveAppliesInPlaceAndMarksTheEnd) {
  State<2> state = bare_state<2>("HJ", "CK");
  state.players[0].hand = hand("S10 D9");
  State<2> moved = state;
  moved.make_move(Action::play(card("S10")));
  EXPECT_EQ(moved, after(state, Action::play(card("S10"))));
  EXPECT_EQ(moved.has_ended, std::nullopt);

  // An action that ends the game keeps the position and only records the result.
  State<1> solo = bare_state<1>("HJ", "CK");
  solo.players[0].hand = hand("S2");
  State<1> ended = solo;
  ended.make_move(Action::yield());
  EXPECT_EQ(ended.has_ended, GameResult::Lost(10));
  ended.has_ended.reset();
  EXPECT_EQ(ended, solo);
}

TEST(StateEnum, OneVariantPerPlayerCount) {
  EXPECT_EQ(new_state_enum(0, 1), std::nullopt);
  EXPECT_EQ(new_state_enum(5, 1), std::nullopt);
  auto s1 = new_state_enum(1, 9);
  auto s2 = new_state_enum(2, 9);
  auto s3 = new_state_enum(3, 9);
  auto s4 = new_state_enum(4, 9);
  ASSERT_TRUE(s1 && s2 && s3 && s4);
  EXPECT_EQ(player_count(*s1), 1u);
  EXPECT_EQ(player_count(*s2), 2u);
  EXPECT_EQ(player_count(*s3), 3u);
  EXPECT_EQ(player_count(*s4), 4u);
  EXPECT_EQ(std::get<State<1>>(*s1), State<1>::create(9));
  EXPECT_EQ(std::get<State<2>>(*s2), State<2>::create(9));
  EXPECT_EQ(std::get<State<3>>(*s3), State<3>::create(9));
  EXPECT_EQ(std::get<State<4>>(*s4), State<4>::create(9));
}

TEST(State, CurrentPlayerOutsideTheTableFails) {
  State<2> state = bare_state<2>("HJ");
  state.has_turn = PlayerId{2};
  EXPECT_THROW(state.current_player(), util::Failure);
  EXPECT_THROW(state.current_player_mut(), util::Failure);
}

TEST(State, IsOnePlainBlockOfMemory) {
  static_assert(std::is_trivially_copyable_v<State<1>>);
  static_assert(std::is_trivially_copyable_v<State<2>>);
  static_assert(std::is_trivially_copyable_v<State<3>>);
  static_assert(std::is_trivially_copyable_v<State<4>>);
  const State<4> state = State<4>::create(3);
  alignas(State<4>) unsigned char bytes[sizeof(State<4>)];
  std::memcpy(bytes, &state, sizeof state);
  State<4> copy;
  std::memcpy(&copy, bytes, sizeof copy);
  EXPECT_EQ(copy, state);
}

TEST(Text, DisplayText) {
  State<2> state = bare_state<2>("DJ", "CK");
  state.players[0].hand = hand("SA H10 Jester");
  EXPECT_EQ(state.display_text(),
            "Player: PlayerId(0)\n"
            "Hand:   [♠A, ♥10, Jester]\n"
            "Enemy:  Some(Enemy { card: ♦J, health: 20, attack: 10, jester_applied: false })");
  state.has_turn = PlayerId{1};
  state.table.castle_deck.clear();
  EXPECT_EQ(state.display_text(), "Player: PlayerId(1)\nHand:   []\nEnemy:  None");
}

TEST(Text, ActionTypeTexts) {
  EXPECT_EQ(util::debug_text(ActionType::play_cards()), "PlayCards");
  EXPECT_EQ(util::debug_text(ActionType::discard(10)), "Discard(10)");
  EXPECT_EQ(util::debug_text(ActionType::jester()), "Jester");
}

State<1> tiny_state() {
  State<1> state = bare_state<1>("DJ");
  state.table.tavern_deck = pile("S2");
  state.players[0].hand = hand("SA");
  state.rng_seed = 42;
  return state;
}

TEST(Text, DebugTextSingleLine) {
  EXPECT_EQ(util::debug_text(tiny_state()),
            "State { table: Table { castle_deck: [Enemy { card: ♦J, health: 20, attack: 10, "
            "jester_applied: false }], tavern_deck: [♠2], discard_pile: [], attack_cards: [] }, "
            "players: [Player { id: PlayerId(0), hand: [♠A] }], has_turn: PlayerId(0), "
            "times_yielded: 0, max_hand_size: 8, action_type: PlayCards, has_ended: None, "
            "level: 11, rng_seed: 42, hand_refills_left: 2 }");
  State<1> ended = tiny_state();
  ended.has_ended = GameResult::Lost(3);
  ended.action_type = ActionType::discard(10);
  std::string text = util::debug_text(ended);
  EXPECT_NE(text.find("action_type: Discard(10), has_ended: Some(Lost(3)), level: 11"),
            std::string::npos)
      << text;
}

TEST(Text, DebugTextMultiLine) {
  EXPECT_EQ(util::debug_text(tiny_state(), true),
            "State {\n"
            "    table: Table {\n"
            "        castle_deck: [\n"
            "            Enemy {\n"
            "                card: ♦J,\n"
            "                health: 20,\n"
            "                attack: 10,\n"
            "                jester_applied: false,\n"
            "            },\n"
            "        ],\n"
            "        tavern_deck: [\n"
            "            ♠2,\n"
            "        ],\n"
            "        discard_pile: [],\n"
            "        attack_cards: [],\n"
            "    },\n"
            "    players: [\n"
            "        Player {\n"
            "            id: PlayerId(\n"
            "                0,\n"
            "            ),\n"
            "            hand: [\n"
            "                ♠A,\n"
            "            ],\n"
            "        },\n"
            "    ],\n"
            "    has_turn: PlayerId(\n"
            "        0,\n"
            "    ),\n"
            "    times_yielded: 0,\n"
            "    max_hand_size: 8,\n"
            "    action_type: PlayCards,\n"
            "    has_ended: None,\n"
            "    level: 11,\n"
            "    rng_seed: 42,\n"
            "    hand_refills_left: 2,\n"
            "}");
}

TEST(Text, NoEscapeCharactersWithColoursOff) {
  for (std::uint64_t seed = 0; seed < 5; ++seed) {
    State<4> state = State<4>::create(seed);
    EXPECT_EQ(util::debug_text(state).find('\x1b'), std::string::npos);
    EXPECT_EQ(state.display_text().find('\x1b'), std::string::npos);
  }
}

}  // namespace
}  // namespace vardelic::game
