#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "game/card.h"
#include "util/debug_text.h"
#include "util/inline_list.h"

namespace vardelic::game {

using Hand = util::InlineList<Card, 8>;
using ComboCards = util::InlineList<Card, 4>;
using Pile = util::InlineList<Card, 54>;

template <std::size_t N>
using CardList = util::InlineList<Card, N>;

// A player's index 0..N-1 in a game of N players.
struct PlayerId {
  std::size_t id = 0;

  // (index + 1) mod total_players.
  PlayerId next_id(std::size_t total_players) const { return {(id + 1) % total_players}; }
  friend bool operator==(PlayerId, PlayerId) = default;
};

void write_debug(util::DebugWriter& w, PlayerId id);

struct Player {
  PlayerId id;
  Hand hand;  // in the order received

  static Player create(std::size_t id, const Hand& hand) { return {{id}, hand}; }
  std::uint16_t total_hand_value() const { return attack_sum(hand); }

  // Each given card removes the first equal card of the hand, one copy per card; cards
  // without an equal remove nothing; the rest keep their order.
  template <typename Range>
  void remove_from_hand(const Range& cards) {
    for (const Card& card : cards) {
      for (std::size_t i = 0; i < hand.size(); ++i) {
        if (hand[i] == card) {
          hand.erase(i);
          break;
        }
      }
    }
  }

  friend bool operator==(const Player&, const Player&) = default;
};

void write_debug(util::DebugWriter& w, const Player& player);

}  // namespace vardelic::game

template <>
struct std::hash<vardelic::game::PlayerId> {
  std::size_t operator()(vardelic::game::PlayerId p) const noexcept { return p.id; }
};
