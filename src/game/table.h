#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "game/card.h"
#include "game/enemy.h"
#include "game/player.h"
#include "util/debug_text.h"
#include "util/inline_list.h"
#include "util/rng.h"

namespace vardelic::game {

using CastleDeck = util::InlineList<Enemy, kEnemies>;

// Every card that is not in a hand. All four piles are stored bottom first: index 0 is the
// bottom, the last element the top (the current enemy, the next card drawn).
//
// Shuffles take the caller's generator and draw from it in the order documented on each
// operation; a shuffle is always the Fisher–Yates pass of util::shuffle.
struct Table {
  CastleDeck castle_deck;
  Pile tavern_deck;
  Pile discard_pile;
  Pile attack_cards;  // played against the current enemy, in play order

  // Castle deck first, then the tavern deck; the other two piles empty.
  static Table create(std::size_t n_jesters, util::ChaCha12Rng& rng);
  // Bottom to top: Kings, Queens, Jacks, each rank made in suit order and shuffled.
  static CastleDeck new_castle_deck(util::ChaCha12Rng& rng);
  // Ace..Ten in suit order, then the jesters, shuffled once.
  static Pile new_tavern_deck(std::size_t n_jesters, util::ChaCha12Rng& rng);

  std::optional<Card> draw_card();
  // Up to `count` cards, former top first; fewer when the deck runs out. Asking for more than
  // 8 cards that exist throws Failure.
  Hand draw_cards(std::size_t count);
  void discard_card(Card card) { discard_pile.push_back(card); }
  template <typename Range>
  void discard_cards(const Range& cards) {
    for (const Card& card : cards) discard_pile.push_back(card);
  }
  template <typename Range>
  void add_attack_cards(const Range& cards) {
    for (const Card& card : cards) attack_cards.push_back(card);
  }
  // Moves the attack cards, in order, onto the discard pile.
  void discard_attack_cards();
  void add_to_top_of_tavern_deck(Card card) { tavern_deck.push_back(card); }
  // Shuffles the discard pile, then moves up to `n_cards` from its top, one at a time, to the
  // bottom of the tavern deck (each below the one before).
  void heal_from_discard(std::size_t n_cards, util::ChaCha12Rng& rng);

  const Enemy* current_enemy() const { return castle_deck.empty() ? nullptr : &castle_deck.back(); }
  Enemy* current_enemy_mut() { return castle_deck.empty() ? nullptr : &castle_deck.back(); }
  void next_enemy() {
    if (!castle_deck.empty()) castle_deck.pop_back();
  }

  // Re-deals what the player to move cannot see. `player_hands` are the other players' hands,
  // in player order, changed in place. The current enemy stays on top exactly as it is (it is
  // visible to everyone); the enemies below it are re-shuffled within their rank. Then the
  // discard pile, the given hands and the tavern deck are pooled, shuffled once and dealt
  // back in that order, each keeping its size. Attack cards are untouched.
  void permute(std::span<Hand* const> player_hands, util::ChaCha12Rng& rng);

  friend bool operator==(const Table&, const Table&) = default;
};

void write_debug(util::DebugWriter& w, const Table& table);

}  // namespace vardelic::game
