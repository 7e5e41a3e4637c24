#pragma once

// Test-only helpers for the game model: short card notation, hand and state builders, and the
// invariant checker that the random-games test runs after every action.
//
// Including this header turns colours off for the whole test process before any text is made:
// the colour decision is taken once, on first use, so it must see NO_COLOR already set.

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "game/action.h"
#include "game/card.h"
#include "game/enemy.h"
#include "game/player.h"
#include "game/state.h"
#include "game/table.h"

namespace vardelic::testing {

inline const bool kColoursOff = [] {
  setenv("NO_COLOR", "1", 1);
  unsetenv("CLICOLOR_FORCE");
  return true;
}();

// "S5", "HA", "D10", "CK", "Jester"; the suit letter comes first.
inline game::Card card(std::string_view text) {
  using game::CardSuit;
  using game::CardValue;
  if (text == "Jester") return game::kJester;
  CardSuit suit;
  switch (text.at(0)) {
    case 'S':
      suit = CardSuit::Spades;
      break;
    case 'H':
      suit = CardSuit::Hearts;
      break;
    case 'D':
      suit = CardSuit::Diamonds;
      break;
    case 'C':
      suit = CardSuit::Clubs;
      break;
    default:
      throw std::invalid_argument("bad suit in " + std::string(text));
  }
  std::string_view v = text.substr(1);
  CardValue value;
  if (v == "A")
    value = CardValue::Ace;
  else if (v == "J")
    value = CardValue::Jack;
  else if (v == "Q")
    value = CardValue::Queen;
  else if (v == "K")
    value = CardValue::King;
  else if (v == "Jester")
    value = CardValue::Jester;
  else {
    int n = std::stoi(std::string(v));
    if (n < 2 || n > 10) throw std::invalid_argument("bad value in " + std::string(text));
    value = static_cast<CardValue>(n);
  }
  return {suit, value};
}

// Cards separated by spaces, in order: "SA HA C5 Jester".
template <typename List>
List cards_of(std::string_view text) {
  List list;
  std::istringstream in{std::string(text)};
  std::string word;
  while (in >> word) list.push_back(card(word));
  return list;
}
inline game::Hand hand(std::string_view text) { return cards_of<game::Hand>(text); }
inline game::Pile pile(std::string_view text) { return cards_of<game::Pile>(text); }
inline std::vector<game::Card> card_vector(std::string_view text) {
  return cards_of<std::vector<game::Card>>(text);
}

inline game::Enemy enemy(std::string_view text) { return game::Enemy::create(card(text)); }

// A state of N players with nothing dealt: empty hands and piles, one enemy `top` on a castle
// deck above `below` (bottom first), level 12 minus the castle deck's size, and the constants of
// a fresh game of N players. Tests fill in the cards they need.
template <std::size_t N>
game::State<N> bare_state(std::string_view top, std::string_view below = "") {
  game::State<N> state = game::State<N>::create(12345);
  state.table = game::Table{};
  for (auto& player : state.players) player.hand.clear();
  for (game::Card c : card_vector(below)) state.table.castle_deck.push_back(game::Enemy::create(c));
  if (!top.empty()) state.table.castle_deck.push_back(enemy(top));
  state.level = static_cast<std::uint8_t>(12 - state.table.castle_deck.size());
  return state;
}

// Player 0 of two holds ♠7 and ♥9 against a fresh Jack of Diamonds: the three actions
// Play(♠7), Play(♥9), Yield.
inline game::State<2> three_actions() {
  game::State<2> state = bare_state<2>("DJ", "CK");
  state.players[0].hand = hand("S7 H9");
  return state;
}

template <std::size_t N>
constexpr std::size_t jesters_for() {
  return N <= 2 ? 0 : N - 2;
}

// Counts of every card by (suit, value), royal enemies of the castle deck included.
using CardCounts = std::array<std::array<int, 14>, 5>;

template <std::size_t N>
CardCounts count_cards(const game::State<N>& state) {
  CardCounts counts{};
  auto add = [&counts](game::Card c) {
    ++counts[static_cast<std::size_t>(c.suit) % 5][static_cast<std::size_t>(c.value) % 14];
  };
  for (const auto& player : state.players) {
    for (game::Card c : player.hand) add(c);
  }
  for (game::Card c : state.table.tavern_deck) add(c);
  for (game::Card c : state.table.discard_pile) add(c);
  for (game::Card c : state.table.attack_cards) add(c);
  for (const game::Enemy& e : state.table.castle_deck) add(e.card());
  return counts;
}

// The invariants that legal play keeps, checked on a state that is still in progress.
template <std::size_t N>
::testing::AssertionResult check_invariants(const game::State<N>& state) {
  using game::CardSuit;
  using game::CardValue;
  auto fail = [](const std::string& what) { return ::testing::AssertionFailure() << what; };

  CardCounts counts = count_cards(state);
  for (std::size_t s = 0; s < 4; ++s) {
    for (std::size_t v = 1; v < 14; ++v) {
      if (counts[s][v] != 1) {
        return fail("card " +
                    game::card_text({static_cast<CardSuit>(s), static_cast<CardValue>(v)}) +
                    " appears " + std::to_string(counts[s][v]) + " times");
      }
    }
    if (counts[s][0] != 0) return fail("a jester with a real suit appeared");
  }
  for (std::size_t v = 1; v < 14; ++v) {
    if (counts[4][v] != 0) return fail("a card without a suit that is not the jester appeared");
  }
  if (counts[4][0] != static_cast<int>(jesters_for<N>())) {
    return fail("the game holds " + std::to_string(counts[4][0]) + " jesters");
  }

  const auto& castle = state.table.castle_deck;
  if (state.level != 12 - castle.size()) {
    return fail("level " + std::to_string(state.level) + " with " + std::to_string(castle.size()) +
                " enemies left");
  }
  for (std::size_t i = 0; i < castle.size(); ++i) {
    // Jacks on top, then Queens, then Kings: ranks never rise towards the top.
    if (i > 0 && castle[i].card().value > castle[i - 1].card().value) {
      return fail("castle deck out of rank order");
    }
    if (i + 1 < castle.size() && !(castle[i] == game::Enemy::create(castle[i].card()))) {
      return fail("an enemy below the current one has been touched");
    }
  }
  if (state.has_turn.id >= N) return fail("has_turn " + std::to_string(state.has_turn.id));
  if (state.times_yielded >= N) return fail("times_yielded reached the player count");
  if (state.max_hand_size != 9 - N) return fail("max_hand_size changed");
  for (const auto& player : state.players) {
    if (player.hand.size() > state.max_hand_size) return fail("a hand exceeds the hand limit");
  }
  for (std::size_t i = 0; i < N; ++i) {
    if (state.players[i].id.id != i) return fail("a player's id changed");
  }
  if (state.hand_refills_left > (N == 1 ? 2 : 0)) return fail("hand_refills_left grew");
  if (state.has_ended) return fail("has_ended set by apply_action");
  if (castle.empty() && !state.table.attack_cards.empty()) {
    return fail("attack cards left after the last enemy fell");
  }
  const game::Enemy* current = state.current_enemy();
  switch (state.action_type.kind) {
    case game::ActionType::Kind::Discard:
      if (current == nullptr || state.action_type.amount != current->attack_value() ||
          state.action_type.amount == 0) {
        return fail("a discard obligation that is not the enemy's attack");
      }
      break;
    case game::ActionType::Kind::Jester:
      if (current != nullptr && !current->jester_applied()) {
        return fail("a jester obligation against an enemy without the jester");
      }
      break;
    case game::ActionType::Kind::PlayCards:
      break;
  }
  if (current != nullptr && current->health() <= 0) return fail("a defeated enemy is current");
  return ::testing::AssertionSuccess();
}

}  // namespace vardelic::testing
