#pragma once

// What one seat may know of a game, in one place: the observation of the learning
// environments, the information-set player's re-deal and its view check are built on it.
//
//   public (every seat)      the player count, the player to move and what it owes, the level,
//                            the yields in a row, the refills left, the hand limit, whether and
//                            how the game ended; every hand's size; the current enemy (card,
//                            damage taken, attack after shields, immunity, jester); which
//                            enemies are still to come (not their order); the tavern deck's
//                            size; the discard pile's cards (each reached it face up); the
//                            attack cards played against the current enemy, in play order
//   private to the seat      its own hand, in hand order
//   hidden from the seat     the other hands; the tavern deck's contents and order; the order
//                            of the castle deck below the current enemy; the rules' rng_seed
//
// Two facts a seat could remember are treated as hidden, a known simplification: a card
// killed exactly goes face up on top of the tavern deck, and Hearts move a multiset of discard
// cards (the pile's shrinkage) under it. A state does not record either, so both join the
// pooled hidden cards here; a player that follows the game can remember them
// (agents::TavernMemory).

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "game/action.h"
#include "game/card.h"
#include "game/enemy.h"
#include "game/player.h"
#include "game/state.h"
#include "util/rng.h"

namespace vardelic::game {

// Every card kind: the four real suits' cards suit by suit, Ace to King, then the jester.
inline constexpr std::size_t kCardKinds = 53;

// 0..52: suit * 13 + value - 1 for Spades (0), Hearts, Diamonds, Clubs; 52 for the jester.
constexpr std::size_t card_kind(Card card) {
  if (card.suit == CardSuit::None || card.value == CardValue::Jester) return 52;
  return static_cast<std::size_t>(card.suit) * 13 + static_cast<std::size_t>(card.value) - 1;
}

// Enemies (12) number rank by rank: rank * 4 + suit, Jack 0, Queen 1, King 2.
inline constexpr std::size_t kEnemyKinds = kEnemies;
constexpr std::size_t enemy_kind(Card card) {
  return (static_cast<std::size_t>(card.value) - static_cast<std::size_t>(CardValue::Jack)) * 4 +
         static_cast<std::size_t>(card.suit);
}

// The current enemy as everyone sees it.
struct EnemyView {
  Card card{};
  std::uint8_t damage = 0;  // taken so far
  std::int8_t health = 0;   // left
  std::uint8_t attack = 0;  // after the shields played against it
  bool jester_applied = false;

  // Immune to its own suit until a jester is played against it.
  bool immune() const { return !jester_applied; }
  friend bool operator==(const EnemyView&, const EnemyView&) = default;
};

// Exactly what seat `seat` of a game of N players may know (see the table above).
template <std::size_t N>
struct SeatView {
  std::uint8_t seat = 0;
  std::uint8_t to_move = 0;
  ActionType phase;  // with the amount a discard owes
  std::uint8_t level = 0;
  std::uint8_t times_yielded = 0;
  std::uint8_t refills_left = 0;
  std::uint8_t max_hand_size = 0;
  std::optional<GameResult> ended;
  Hand hand;  // the seat's own, in hand order
  std::array<std::uint8_t, N> hand_sizes{};
  std::optional<EnemyView> enemy;
  // Enemies still to beat, the current one included: a bit per enemy_kind.
  std::uint16_t enemies_left = 0;
  std::uint8_t tavern_size = 0;
  std::array<std::uint8_t, kCardKinds> discard{};  // count of each card kind
  std::uint8_t discard_size = 0;
  Pile attack_cards;  // in play order

  static constexpr std::size_t kPlayers = N;
  // Enemies still to beat of a rank (0 Jack, 1 Queen, 2 King), the current one included.
  std::size_t enemies_left_of_rank(std::size_t rank) const {
    return static_cast<std::size_t>(std::popcount((enemies_left >> (4 * rank)) & 0xFu));
  }
  std::size_t enemies_left_count() const {
    return static_cast<std::size_t>(std::popcount(static_cast<unsigned>(enemies_left)));
  }
  friend bool operator==(const SeatView&, const SeatView&) = default;
};

// Seat `seat`'s view of the state; throws std::invalid_argument "player <seat> is not at a
// table of <N>" for a seat past the table.
template <std::size_t N>
SeatView<N> seat_view(const State<N>& state, std::size_t seat);

// A copy in which everything hidden from `seat` is dealt again: the other hands and the
// tavern deck pooled and re-dealt, each keeping its size; the castle deck below the current
// enemy re-ordered within each rank; a fresh rng_seed. Everything in the seat's view stays,
// the discard pile included. The result depends only on that view and the generator, not on
// how the hidden cards lay. Throws as seat_view for a seat past the table.
template <std::size_t N>
State<N> deal_hidden(const State<N>& state, std::size_t seat, util::ChaCha12Rng& rng);

static_assert(std::is_trivially_copyable_v<SeatView<1>> &&
                  std::is_trivially_copyable_v<SeatView<4>>,
              "a view is a plain value");

extern template SeatView<1> seat_view(const State<1>&, std::size_t);
extern template SeatView<2> seat_view(const State<2>&, std::size_t);
extern template SeatView<3> seat_view(const State<3>&, std::size_t);
extern template SeatView<4> seat_view(const State<4>&, std::size_t);
extern template State<1> deal_hidden(const State<1>&, std::size_t, util::ChaCha12Rng&);
extern template State<2> deal_hidden(const State<2>&, std::size_t, util::ChaCha12Rng&);
extern template State<3> deal_hidden(const State<3>&, std::size_t, util::ChaCha12Rng&);
extern template State<4> deal_hidden(const State<4>&, std::size_t, util::ChaCha12Rng&);

}  // namespace vardelic::game
