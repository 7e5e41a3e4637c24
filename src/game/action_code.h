#pragma once

#include <cstddef>
#include <cstdint>

#include "game/action.h"
#include "util/failure.h"

namespace vardelic::game {

// An action packed into 64 bits, losslessly and without reference to a state, so that a search
// edge can hold a move in 8 bytes instead of 32:
//
//   bits 0-2   kind             bits 3-6   number of cards (0 to 8)
//   bits 7-62  the cards in order, 7 bits each (suit in the low 3, value in the high 4);
//              for ChangePlayer the player's index instead
class ActionCode {
 public:
  ActionCode() = default;
  // Throws Failure for a ChangePlayer whose index needs more than 56 bits (no game has it).
  explicit ActionCode(const Action& action) {
    bits_ = static_cast<std::uint64_t>(action.kind()) |
            static_cast<std::uint64_t>(action.cards().size()) << kCountShift;
    if (action.kind() == ActionKind::ChangePlayer) {
      const std::size_t id = action.player().id;
      if (id >> kPayloadBits != 0) throw util::Failure("player index too large for an action code");
      bits_ |= static_cast<std::uint64_t>(id) << kPayloadShift;
      return;
    }
    unsigned shift = kPayloadShift;
    for (Card card : action.cards()) {
      bits_ |= (static_cast<std::uint64_t>(card.suit) | static_cast<std::uint64_t>(card.value) << 3)
               << shift;
      shift += kCardBits;
    }
  }

  Action action() const {
    const auto kind = static_cast<ActionKind>(bits_ & 7);
    switch (kind) {
      case ActionKind::Play:
        return Action::play(card(0));
      case ActionKind::AnimalCombo:
        return Action::animal_combo(card(0), card(1));
      case ActionKind::Combo:
        return Action::combo(cards());
      case ActionKind::Yield:
        return Action::yield();
      case ActionKind::Discard:
        return Action::discard(cards());
      case ActionKind::ChangePlayer:
        return Action::change_player({static_cast<std::size_t>(bits_ >> kPayloadShift)});
      case ActionKind::RefillHand:
        return Action::refill_hand();
    }
    throw util::Failure("not an action code");
  }

  std::uint64_t bits() const { return bits_; }
  friend bool operator==(ActionCode, ActionCode) = default;

 private:
  static constexpr unsigned kCountShift = 3;
  static constexpr unsigned kPayloadShift = 7;
  static constexpr unsigned kPayloadBits = 56;
  static constexpr unsigned kCardBits = 7;

  Card card(unsigned i) const {
    const auto bits = static_cast<unsigned>(bits_ >> (kPayloadShift + kCardBits * i));
    return Card{static_cast<CardSuit>(bits & 7), static_cast<CardValue>((bits >> 3) & 15)};
  }
  Hand cards() const {
    Hand hand;
    const auto count = static_cast<unsigned>((bits_ >> kCountShift) & 15);
    for (unsigned i = 0; i < count; ++i) hand.push_back(card(i));
    return hand;
  }

  std::uint64_t bits_ = 0;
};

static_assert(sizeof(ActionCode) == 8);

}  // namespace vardelic::game
