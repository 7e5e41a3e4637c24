#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "game/card.h"
#include "game/information.h"
#include "game/state.h"

namespace vardelic::rl {

// The observation: one float32 vector of kObservationSize values, the same length for every
// player count, written from the view of one player (the observer). It holds only what that
// player may know: its own hand, everything on the table face up, the sizes of the piles and
// hands it cannot look into, and the counters everyone sees. Values are plain counts and
// amounts (not scaled); one-hot groups are 0 or 1. Seats are relative to the observer:
// "k places after" means player (observer + k) mod N, so the observer is always place 0.
//
// Card kinds (53) number the four real suits' cards suit by suit, Ace to King, then the
// jester: kind = suit * 13 + value - 1 for Spades (0), Hearts, Diamonds, Clubs; 52 for the
// jester. Enemies (12) number rank by rank: enemy = rank * 4 + suit, Jack 0, Queen 1, King 2.
struct ObservationField {
  std::string_view name;
  std::size_t offset;
  std::size_t length;
  std::string_view meaning;
};

using game::kCardKinds;
using game::kEnemyKinds;
inline constexpr std::size_t kHandSlotCount = 8;
// A hand slot: the suit one-hot (Spades, Hearts, Diamonds, Clubs; none for the jester), then
// the value one-hot indexed by the value's number (0 Jester, 1 Ace, ..., 13 King).
inline constexpr std::size_t kSlotWidth = 4 + 14;

namespace field {
// Offsets of the fields, in layout order; kObservationLayout below documents each.
inline constexpr std::size_t kHandSlots = 0;
inline constexpr std::size_t kHandCards = kHandSlots + kHandSlotCount * kSlotWidth;
inline constexpr std::size_t kHandSize = kHandCards + kCardKinds;
inline constexpr std::size_t kHandValue = kHandSize + 1;
inline constexpr std::size_t kEnemyPresent = kHandValue + 1;
inline constexpr std::size_t kEnemyCard = kEnemyPresent + 1;
inline constexpr std::size_t kEnemyDamage = kEnemyCard + kEnemyKinds;
inline constexpr std::size_t kEnemyHealth = kEnemyDamage + 1;
inline constexpr std::size_t kEnemyAttack = kEnemyHealth + 1;
inline constexpr std::size_t kEnemyImmuneSuit = kEnemyAttack + 1;
inline constexpr std::size_t kEnemyJesterApplied = kEnemyImmuneSuit + 4;
inline constexpr std::size_t kPhase = kEnemyJesterApplied + 1;
inline constexpr std::size_t kDiscardOwed = kPhase + 3;
inline constexpr std::size_t kToMove = kDiscardOwed + 1;
inline constexpr std::size_t kAttackCards = kToMove + 4;
inline constexpr std::size_t kDiscardPile = kAttackCards + kCardKinds;
inline constexpr std::size_t kPileSizes = kDiscardPile + kCardKinds;
inline constexpr std::size_t kEnemiesDefeated = kPileSizes + 4;
inline constexpr std::size_t kEnemiesLeftByRank = kEnemiesDefeated + 1;
inline constexpr std::size_t kEnemiesLeft = kEnemiesLeftByRank + 3;
inline constexpr std::size_t kOtherHandSizes = kEnemiesLeft + kEnemyKinds;
inline constexpr std::size_t kTimesYielded = kOtherHandSizes + 3;
inline constexpr std::size_t kRefillsLeft = kTimesYielded + 1;
inline constexpr std::size_t kNumPlayers = kRefillsLeft + 1;
inline constexpr std::size_t kEnd = kNumPlayers + 4;
}  // namespace field

inline constexpr std::size_t kObservationSize = field::kEnd;

inline constexpr std::array<ObservationField, 24> kObservationLayout = {{
    {"hand_slots", field::kHandSlots, kHandSlotCount * kSlotWidth,
     "own hand by slot, 8 slots of 18 in hand order: suit one-hot (S, H, D, C; none for the "
     "jester) then value one-hot (Jester, A, 2, ..., 10, J, Q, K); empty slots all 0"},
    {"hand_cards", field::kHandCards, kCardKinds, "own hand as a set: count of each card kind"},
    {"hand_size", field::kHandSize, 1, "cards in own hand"},
    {"hand_value", field::kHandValue, 1, "total attack value of own hand"},
    {"enemy_present", field::kEnemyPresent, 1, "1 while an enemy is in play"},
    {"enemy_card", field::kEnemyCard, kEnemyKinds, "current enemy one-hot (rank * 4 + suit)"},
    {"enemy_damage", field::kEnemyDamage, 1, "damage the current enemy has taken"},
    {"enemy_health", field::kEnemyHealth, 1, "health the current enemy has left"},
    {"enemy_attack", field::kEnemyAttack, 1, "current enemy's attack after reductions"},
    {"enemy_immune_suit", field::kEnemyImmuneSuit, 4,
     "suit the current enemy is immune to (S, H, D, C); all 0 once a jester was played"},
    {"enemy_jester_applied", field::kEnemyJesterApplied, 1,
     "1 when a jester was played against the current enemy"},
    {"phase", field::kPhase, 3,
     "what the player to move owes, one-hot: attack or yield, a discard, naming the next player"},
    {"discard_owed", field::kDiscardOwed, 1, "attack value the owed discard must cover, else 0"},
    {"to_move", field::kToMove, 4, "player to move one-hot, by places after the observer"},
    {"attack_cards", field::kAttackCards, kCardKinds,
     "cards played against the current enemy: count of each card kind"},
    {"discard_pile", field::kDiscardPile, kCardKinds, "discard pile: count of each card kind"},
    {"pile_sizes", field::kPileSizes, 4,
     "cards in the tavern deck, the discard pile, the attack cards; enemies in the castle deck"},
    {"enemies_defeated", field::kEnemiesDefeated, 1, "enemies defeated so far (the score)"},
    {"enemies_left_by_rank", field::kEnemiesLeftByRank, 3,
     "enemies still to beat, current one included: Jacks, Queens, Kings"},
    {"enemies_left", field::kEnemiesLeft, kEnemyKinds,
     "which enemies are still to beat, current one included (rank * 4 + suit)"},
    {"other_hand_sizes", field::kOtherHandSizes, 3,
     "hand sizes of the players 1, 2, 3 places after the observer; 0 past the table"},
    {"times_yielded", field::kTimesYielded, 1, "yields in a row"},
    {"refills_left", field::kRefillsLeft, 1, "solo hand refills left"},
    {"num_players", field::kNumPlayers, 4, "player count one-hot (1, 2, 3, 4)"},
}};

// 0..52, as above.
using game::card_kind;

// Writes the observation of `observer` (below N, else std::invalid_argument) into
// out[0, kObservationSize): an encoding of game::seat_view, so it holds nothing else.
template <std::size_t N>
void write_observation(const game::State<N>& state, std::size_t observer, float* out);

}  // namespace vardelic::rl
