#include "rl/observation.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace vardelic::rl {
namespace {

using game::Card;
using game::CardSuit;

static_assert(
    [] {
      std::size_t offset = 0;
      for (const ObservationField& f : kObservationLayout) {
        if (f.offset != offset) return false;
        offset += f.length;
      }
      return offset == kObservationSize;
    }(),
    "the layout's fields follow each other without gaps");

std::size_t enemy_kind(Card card) {
  return (static_cast<std::size_t>(card.value) - static_cast<std::size_t>(game::CardValue::Jack)) *
             4 +
         static_cast<std::size_t>(card.suit);
}

template <typename Range>
void count_cards(const Range& cards, float* out) {
  for (Card card : cards) out[card_kind(card)] += 1.0f;
}

}  // namespace

template <std::size_t N>
void write_observation(const game::State<N>& state, std::size_t observer, float* out) {
  if (observer >= N) {
    throw std::invalid_argument("player " + std::to_string(observer) + " is not at a table of " +
                                std::to_string(N));
  }
  std::fill(out, out + kObservationSize, 0.0f);
  const game::Table& table = state.table;

  const game::Hand& hand = state.players[observer].hand;
  for (std::size_t slot = 0; slot < hand.size(); ++slot) {
    float* cell = out + field::kHandSlots + slot * kSlotWidth;
    const Card card = hand[slot];
    if (card.suit != CardSuit::None) cell[static_cast<std::size_t>(card.suit)] = 1.0f;
    cell[4 + static_cast<std::size_t>(card.value)] = 1.0f;
  }
  count_cards(hand, out + field::kHandCards);
  out[field::kHandSize] = static_cast<float>(hand.size());
  out[field::kHandValue] = static_cast<float>(game::attack_sum(hand));

  if (const game::Enemy* enemy = table.current_enemy()) {
    const Card card = enemy->card();
    // Starting health by rank (Jack 20, Queen 30, King 40), without building a fresh enemy.
    const int start_health = 20 + 10 * static_cast<int>(enemy_kind(card) / 4);
    out[field::kEnemyPresent] = 1.0f;
    out[field::kEnemyCard + enemy_kind(card)] = 1.0f;
    out[field::kEnemyDamage] = static_cast<float>(start_health - enemy->health());
    out[field::kEnemyHealth] = static_cast<float>(enemy->health());
    out[field::kEnemyAttack] = static_cast<float>(enemy->attack_value());
    if (enemy->jester_applied()) {
      out[field::kEnemyJesterApplied] = 1.0f;
    } else {
      out[field::kEnemyImmuneSuit + static_cast<std::size_t>(card.suit)] = 1.0f;
    }
  }

  switch (state.action_type.kind) {
    case game::ActionType::Kind::PlayCards:
      out[field::kPhase] = 1.0f;
      break;
    case game::ActionType::Kind::Discard:
      out[field::kPhase + 1] = 1.0f;
      out[field::kDiscardOwed] = static_cast<float>(state.action_type.amount);
      break;
    case game::ActionType::Kind::Jester:
      out[field::kPhase + 2] = 1.0f;
      break;
  }
  out[field::kToMove + (state.has_turn.id + N - observer) % N] = 1.0f;

  count_cards(table.attack_cards, out + field::kAttackCards);
  count_cards(table.discard_pile, out + field::kDiscardPile);
  out[field::kPileSizes + 0] = static_cast<float>(table.tavern_deck.size());
  out[field::kPileSizes + 1] = static_cast<float>(table.discard_pile.size());
  out[field::kPileSizes + 2] = static_cast<float>(table.attack_cards.size());
  out[field::kPileSizes + 3] = static_cast<float>(table.castle_deck.size());

  out[field::kEnemiesDefeated] = static_cast<float>(state.level);
  for (const game::Enemy& enemy : table.castle_deck) {
    const std::size_t kind = enemy_kind(enemy.card());
    out[field::kEnemiesLeftByRank + kind / 4] += 1.0f;
    out[field::kEnemiesLeft + kind] = 1.0f;
  }

  for (std::size_t place = 1; place < N; ++place) {
    out[field::kOtherHandSizes + place - 1] =
        static_cast<float>(state.players[(observer + place) % N].hand.size());
  }
  out[field::kTimesYielded] = static_cast<float>(state.times_yielded);
  out[field::kRefillsLeft] = static_cast<float>(state.hand_refills_left);
  out[field::kNumPlayers + N - 1] = 1.0f;
}

template <std::size_t N>
game::State<N> redeal_hidden(const game::State<N>& state, std::size_t observer,
                             util::ChaCha12Rng& rng) {
  game::State<N> copy = state;
  std::array<game::Hand*, N> others{};
  std::size_t count = 0;
  for (std::size_t i = 0; i < N; ++i) {
    if (i != observer) others[count++] = &copy.players[i].hand;
  }
  // Table::permute pools the discard pile too (the search treats its order as unknown); here
  // it is face up, so it sits out of the pool and comes back unchanged.
  const game::Pile discard = copy.table.discard_pile;
  copy.table.discard_pile.clear();
  copy.table.permute(std::span<game::Hand* const>(others.data(), count), rng);
  copy.table.discard_pile = discard;
  return copy;
}

template void write_observation(const game::State<1>&, std::size_t, float*);
template void write_observation(const game::State<2>&, std::size_t, float*);
template void write_observation(const game::State<3>&, std::size_t, float*);
template void write_observation(const game::State<4>&, std::size_t, float*);
template game::State<1> redeal_hidden(const game::State<1>&, std::size_t, util::ChaCha12Rng&);
template game::State<2> redeal_hidden(const game::State<2>&, std::size_t, util::ChaCha12Rng&);
template game::State<3> redeal_hidden(const game::State<3>&, std::size_t, util::ChaCha12Rng&);
template game::State<4> redeal_hidden(const game::State<4>&, std::size_t, util::ChaCha12Rng&);

}  // namespace vardelic::rl
