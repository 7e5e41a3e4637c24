#include "rl/observation.h"

#include <algorithm>

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

template <typename Range>
void count_cards(const Range& cards, float* out) {
  for (Card card : cards) out[card_kind(card)] += 1.0f;
}

}  // namespace

template <std::size_t N>
void write_observation(const game::State<N>& state, std::size_t observer, float* out) {
  const game::SeatView<N> view = game::seat_view(state, observer);
  std::fill(out, out + kObservationSize, 0.0f);

  for (std::size_t slot = 0; slot < view.hand.size(); ++slot) {
    float* cell = out + field::kHandSlots + slot * kSlotWidth;
    const Card card = view.hand[slot];
    if (card.suit != CardSuit::None) cell[static_cast<std::size_t>(card.suit)] = 1.0f;
    cell[4 + static_cast<std::size_t>(card.value)] = 1.0f;
  }
  count_cards(view.hand, out + field::kHandCards);
  out[field::kHandSize] = static_cast<float>(view.hand.size());
  out[field::kHandValue] = static_cast<float>(game::attack_sum(view.hand));

  if (const auto& enemy = view.enemy) {
    out[field::kEnemyPresent] = 1.0f;
    out[field::kEnemyCard + game::enemy_kind(enemy->card)] = 1.0f;
    out[field::kEnemyDamage] = static_cast<float>(enemy->damage);
    out[field::kEnemyHealth] = static_cast<float>(enemy->health);
    out[field::kEnemyAttack] = static_cast<float>(enemy->attack);
    if (enemy->jester_applied) out[field::kEnemyJesterApplied] = 1.0f;
    if (enemy->immune()) {
      out[field::kEnemyImmuneSuit + static_cast<std::size_t>(enemy->card.suit)] = 1.0f;
    }
  }

  switch (view.phase.kind) {
    case game::ActionType::Kind::PlayCards:
      out[field::kPhase] = 1.0f;
      break;
    case game::ActionType::Kind::Discard:
      out[field::kPhase + 1] = 1.0f;
      out[field::kDiscardOwed] = static_cast<float>(view.phase.amount);
      break;
    case game::ActionType::Kind::Jester:
      out[field::kPhase + 2] = 1.0f;
      break;
  }
  out[field::kToMove + (view.to_move + N - observer) % N] = 1.0f;

  count_cards(view.attack_cards, out + field::kAttackCards);
  for (std::size_t kind = 0; kind < kCardKinds; ++kind) {
    out[field::kDiscardPile + kind] = static_cast<float>(view.discard[kind]);
  }
  out[field::kPileSizes + 0] = static_cast<float>(view.tavern_size);
  out[field::kPileSizes + 1] = static_cast<float>(view.discard_size);
  out[field::kPileSizes + 2] = static_cast<float>(view.attack_cards.size());
  out[field::kPileSizes + 3] = static_cast<float>(view.enemies_left_count());

  out[field::kEnemiesDefeated] = static_cast<float>(view.level);
  for (std::size_t kind = 0; kind < kEnemyKinds; ++kind) {
    if ((view.enemies_left >> kind & 1u) == 0) continue;
    out[field::kEnemiesLeftByRank + kind / 4] += 1.0f;
    out[field::kEnemiesLeft + kind] = 1.0f;
  }

  for (std::size_t place = 1; place < N; ++place) {
    out[field::kOtherHandSizes + place - 1] =
        static_cast<float>(view.hand_sizes[(observer + place) % N]);
  }
  out[field::kTimesYielded] = static_cast<float>(view.times_yielded);
  out[field::kRefillsLeft] = static_cast<float>(view.refills_left);
  out[field::kNumPlayers + N - 1] = 1.0f;
}

template void write_observation(const game::State<1>&, std::size_t, float*);
template void write_observation(const game::State<2>&, std::size_t, float*);
template void write_observation(const game::State<3>&, std::size_t, float*);
template void write_observation(const game::State<4>&, std::size_t, float*);

}  // namespace vardelic::rl
