#pragma once

// Small rule facts that State applies and that heuristics and views predict with: what an
// attack does, who draws for Diamonds, when a counter-attack is paid, what subsets are worth.
// State's own steps call these, so a rule changes here and nowhere else.

#include <array>
#include <cstddef>
#include <cstdint>

#include "game/card.h"
#include "game/enemy.h"
#include "game/player.h"

namespace vardelic::game {

// The suit powers an attack sets off: every suit among its cards but the enemy's own, to which
// it is immune until a jester is played against it. Without an enemy every suit counts.
struct SuitPowers {
  bool spades = false;
  bool hearts = false;
  bool diamonds = false;
  bool clubs = false;
};

template <typename Range>
SuitPowers suit_powers(const Range& cards, const Enemy* enemy) {
  const CardSuit immune =
      enemy != nullptr && !enemy->jester_applied() ? enemy->card().suit : CardSuit::None;
  SuitPowers powers;
  for (const Card& card : cards) {
    if (card.suit == immune) continue;
    powers.spades |= card.suit == CardSuit::Spades;
    powers.hearts |= card.suit == CardSuit::Hearts;
    powers.diamonds |= card.suit == CardSuit::Diamonds;
    powers.clubs |= card.suit == CardSuit::Clubs;
  }
  return powers;
}

// The damage of an attack worth `value`: Clubs double it.
constexpr std::uint16_t attack_damage(std::uint16_t value, const SuitPowers& powers) {
  return powers.clubs ? static_cast<std::uint16_t>(2 * value) : value;
}

// Whether `damage` fells an enemy with `health` left; killed exactly, its card goes on top of
// the tavern deck instead of the discard pile.
constexpr bool kills(int health, int damage) { return damage >= health; }
constexpr bool kills_exactly(int health, int damage) { return damage == health; }

// Whether a hand worth `hand_value` pays a counter-attack of `attack`; if not, the game is lost.
constexpr bool pays_counter_attack(int hand_value, int attack) { return hand_value >= attack; }

// Who receives the k-th card (from 0) the Diamonds power draws in a game of `players`: the first
// player from player k (mod players) on whose hand, of size hand_size(i), is below the limit;
// `players` when every hand is full.
template <typename HandSize>
std::size_t diamonds_receiver(std::size_t k, std::size_t players, std::size_t max_hand_size,
                              HandSize hand_size) {
  for (std::size_t offset = 0; offset < players; ++offset) {
    const std::size_t i = (k + offset) % players;
    if (hand_size(i) < max_hand_size) return i;
  }
  return players;
}

// The attack value of every subset of `hand` (bit i: hand[i]) into worth[0, 1 << size), the
// table doubling with each position (plain loops that the compiler vectorises).
inline void subset_worths(const Hand& hand, std::array<std::uint16_t, 256>& worth) {
  worth[0] = 0;
  for (std::size_t i = 0; i < hand.size(); ++i) {
    const std::uint16_t value = hand[i].attack_value();
    const unsigned half = 1u << i;
    // The two halves never overlap; saying so lets the loop be vectorised.
    const std::uint16_t* __restrict low = worth.data();
    std::uint16_t* __restrict high = worth.data() + half;
    for (unsigned mask = 0; mask < half; ++mask) {
      high[mask] = static_cast<std::uint16_t>(low[mask] + value);
    }
  }
}

}  // namespace vardelic::game
