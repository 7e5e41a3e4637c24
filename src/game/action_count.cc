#include "game/action_count.h"

#include <algorithm>
#include <bit>
#include <string>

#include "game/subsets.h"
#include "util/failure.h"

namespace vardelic::game {
namespace {

// n choose k for the at most four same-value cards of a combo.
constexpr std::uint8_t kChoose[5][5] = {
    {1, 0, 0, 0, 0}, {1, 1, 0, 0, 0}, {1, 2, 1, 0, 0}, {1, 3, 3, 1, 0}, {1, 4, 6, 4, 1}};

// For every subset mask of up to 8 positions, 1 in the byte of its size (size 1 in the lowest).
constexpr std::array<std::uint64_t, 256> kSizeUnit = [] {
  std::array<std::uint64_t, 256> units{};
  for (unsigned mask = 1; mask < 256; ++mask)
    units[mask] = std::uint64_t{1} << 8 * (std::popcount(mask) - 1);
  return units;
}();

constexpr CardValue kComboValues[] = {CardValue::Two, CardValue::Three, CardValue::Four,
                                      CardValue::Five};

// Whether `second` may follow the Ace `first` in an AnimalCombo: never the jester, and a
// second Ace only of a lower suit (so a pair of Aces is listed once and no Ace pairs itself).
bool pairs_with_ace(Card first, Card second) {
  if (second.value == CardValue::Jester) return false;
  return second.value != CardValue::Ace || compare_suits(first.suit, second.suit) > 0;
}

// The hand's cards of one value, in hand order, at most four (the capacity of a combo).
ComboCards same_value(const Hand& hand, CardValue value) {
  ComboCards same;
  for (Card card : hand) {
    if (card.value == value && !same.full()) same.push_back(card);
  }
  return same;
}

}  // namespace

template <std::size_t N>
IndexedActionSpace<N>::IndexedActionSpace(const State<N>& state, bool pruned)
    : hand_(&state.current_player().hand),
      kind_(state.action_type.kind),
      amount_(state.action_type.amount),
      refill_(state.can_refill()) {
  const Hand& hand = *hand_;
  switch (kind_) {
    case ActionType::Kind::PlayCards: {
      // Pruning only drops discards: an attack's list is the same either way. One pass counts
      // the cards per value; an Ace pairs with every other card but the jester and the Aces
      // of its own or a higher suit, so the a Aces of a hand with c non-jester cards give
      // a * (c - a) pairs with other cards and a * (a - 1) / 2 pairs of Aces.
      std::array<std::uint8_t, 14> per_value{};
      for (Card card : hand) ++per_value[static_cast<std::size_t>(card.value)];
      const std::size_t aces = per_value[static_cast<std::size_t>(CardValue::Ace)];
      const std::size_t others =
          hand.size() - per_value[static_cast<std::size_t>(CardValue::Jester)] - aces;
      const std::size_t animals = aces * others + aces * (aces - (aces > 0 ? 1 : 0)) / 2;
      std::size_t combos = 0;
      for (CardValue value : kComboValues) {
        const std::size_t m = std::min<std::size_t>(per_value[static_cast<std::size_t>(value)], 4);
        for (std::size_t size = 2; size <= m && attack_value(value) * size <= 10; ++size) {
          combos += kChoose[m][size];
        }
      }
      animals_ = static_cast<std::uint8_t>(animals);
      combos_ = static_cast<std::uint8_t>(combos);
      listed_ = hand.size() + animals + combos + 1;
      break;
    }
    case ActionType::Kind::Discard: {
      const std::size_t n = hand.size();
      if (!can_cover(hand, amount_)) break;
      subset_worths(hand, worth_);
      std::uint8_t diamonds = 0;
      for (std::size_t i = 0; i < n; ++i) {
        if (hand[i].suit == CardSuit::Diamonds)
          diamonds = static_cast<std::uint8_t>(diamonds | 1u << i);
      }
      // The covering subsets per size, all of them and those without a Diamond, counted in
      // the bytes of one word each (at most 70 subsets share a size).
      std::uint64_t covering = 0;
      std::uint64_t clean = 0;
      const std::uint16_t amount = amount_;
      for (unsigned mask = 1; mask < (1u << n); ++mask) {
        const std::uint64_t unit = kSizeUnit[mask] & (std::uint64_t{0} - (worth_[mask] >= amount));
        covering += unit;
        clean += unit & (std::uint64_t{0} - ((mask & diamonds) == 0));
      }
      // prune_bad_moves keeps the clean discards (and a solo RefillHand, which is never
      // dropped) unless that would leave nothing; then the list stays whole.
      std::uint64_t listed = covering;
      if (pruned && (clean != 0 || refill_)) {
        listed = clean;
        excluded_ = diamonds;
      }
      for (std::size_t size = 1; size <= 8; ++size) {
        per_size_[size] = static_cast<std::uint8_t>(listed >> 8 * (size - 1));
        listed_ += per_size_[size];
      }
      break;
    }
    case ActionType::Kind::Jester:
      listed_ = N;
      break;
  }
}

template <std::size_t N>
Action IndexedActionSpace<N>::operator[](std::size_t index) const {
  if (index >= size()) {
    throw util::Failure("action index " + std::to_string(index) + " out of range for " +
                        std::to_string(size()) + " actions");
  }
  if (index == listed_) return Action::refill_hand();
  switch (kind_) {
    case ActionType::Kind::PlayCards:
      return attack_action(index);
    case ActionType::Kind::Discard:
      return discard_action(index);
    case ActionType::Kind::Jester:
      break;
  }
  return Action::change_player({index});
}

template <std::size_t N>
Action IndexedActionSpace<N>::attack_action(std::size_t index) const {
  const Hand& hand = *hand_;
  if (index < hand.size()) return Action::play(hand[index]);
  index -= hand.size();
  if (index < animals_) {
    for (Card first : hand) {
      if (first.value != CardValue::Ace) continue;
      for (Card second : hand) {
        if (pairs_with_ace(first, second) && index-- == 0)
          return Action::animal_combo(first, second);
      }
    }
  }
  index -= animals_;
  if (index < combos_) {
    for (CardValue value : kComboValues) {
      const ComboCards same = same_value(hand, value);
      const std::size_t m = same.size();
      for (std::size_t size = 2; size <= m && attack_value(value) * size <= 10; ++size) {
        if (index >= kChoose[m][size]) {
          index -= kChoose[m][size];
          continue;
        }
        ComboCards combo;
        subsets::for_each_combination(m, size, [&](const auto& idx, std::size_t k) {
          if (index-- != 0) return;
          for (std::size_t i = 0; i < k; ++i) combo.push_back(same[idx[i]]);
        });
        return Action::combo(combo);
      }
    }
  }
  return Action::yield();
}

template <std::size_t N>
Action IndexedActionSpace<N>::discard_action(std::size_t index) const {
  std::size_t size = 1;
  while (index >= per_size_[size]) index -= per_size_[size++];
  const subsets::SubsetOrder& order = subsets::kSubsetOrders[hand_->size()];
  for (std::size_t i = order.first[size];; ++i) {
    const std::uint8_t mask = order.masks[i];
    if (worth_[mask] >= amount_ && (mask & excluded_) == 0 && index-- == 0) {
      return Action::discard_subset(*hand_, mask);
    }
  }
}

template class IndexedActionSpace<1>;
template class IndexedActionSpace<2>;
template class IndexedActionSpace<3>;
template class IndexedActionSpace<4>;

}  // namespace vardelic::game
