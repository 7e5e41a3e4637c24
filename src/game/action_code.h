#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "game/action.h"
#include "game/player.h"
#include "util/failure.h"

namespace vardelic::game {

// An action packed into 32 bits relative to the hand it is played from (the current player's
// hand, which is where every card of a listed action comes from), so that a search edge can
// hold a move in 4 bytes instead of 32:
//
//   bits 0-2   kind             bits 3-6   number of cards (0 to 8)
//   bits 7-30  the cards in order, as positions in the hand, 3 bits each;
//              for ChangePlayer the player's index instead
//
// A code gives its action back only against the hand it was made from (or an equal one).
class ActionCode {
 public:
  ActionCode() = default;
  // Throws Failure for a card the hand does not hold, or a ChangePlayer whose index needs more
  // than 24 bits (no game has it).
  ActionCode(const Hand& hand, const Action& action) {
    bits_ = static_cast<std::uint32_t>(action.kind()) |
            static_cast<std::uint32_t>(action.cards().size()) << kCountShift;
    if (action.kind() == ActionKind::ChangePlayer) {
      const std::size_t id = action.player().id;
      if (id >> kPayloadBits != 0) throw util::Failure("player index too large for an action code");
      bits_ |= static_cast<std::uint32_t>(id) << kPayloadShift;
      return;
    }
    // Each card is looked for from the position after the previous card's on: the cards of a
    // listed action mostly come in hand order, so a whole discard takes one pass over the hand.
    unsigned shift = kPayloadShift;
    std::size_t position = 0;
    for (Card card : action.cards()) {
      position = position_of(hand, card, position);
      bits_ |= static_cast<std::uint32_t>(position) << shift;
      shift += kPositionBits;
      ++position;
    }
  }

  Action action(const Hand& hand) const {
    const auto kind = static_cast<ActionKind>(bits_ & 7);
    switch (kind) {
      case ActionKind::Play:
        return Action::play(card(hand, 0));
      case ActionKind::AnimalCombo:
        return Action::animal_combo(card(hand, 0), card(hand, 1));
      case ActionKind::Combo:
        return Action::combo(cards(hand));
      case ActionKind::Yield:
        return Action::yield();
      case ActionKind::Discard:
        return Action::discard(cards(hand));
      case ActionKind::ChangePlayer:
        return Action::change_player({static_cast<std::size_t>(bits_ >> kPayloadShift)});
      case ActionKind::RefillHand:
        return Action::refill_hand();
    }
    throw util::Failure("not an action code");
  }

  friend bool operator==(ActionCode, ActionCode) = default;

 private:
  static constexpr unsigned kCountShift = 3;
  static constexpr unsigned kPayloadShift = 7;
  static constexpr unsigned kPayloadBits = 24;
  static constexpr unsigned kPositionBits = 3;

  // A position holding `card`, the first from `from` on, wrapping round to the hand's start.
  // Equal cards are interchangeable, since actions compare by their cards' values.
  static std::size_t position_of(const Hand& hand, Card card, std::size_t from) {
    // Cards compared as one 16-bit word each (their two bytes), as equality compares both.
    const std::size_t size = hand.size();
    const auto word = std::bit_cast<std::uint16_t>(card);
    for (std::size_t i = from; i < size; ++i) {
      if (std::bit_cast<std::uint16_t>(hand[i]) == word) return i;
    }
    for (std::size_t i = 0; i < from && i < size; ++i) {
      if (std::bit_cast<std::uint16_t>(hand[i]) == word) return i;
    }
    missing_card();
  }
  [[noreturn]] static void missing_card() {
    throw util::Failure("an action code needs the hand the action is played from");
  }
  Card card(const Hand& hand, unsigned i) const {
    const std::size_t position = (bits_ >> (kPayloadShift + kPositionBits * i)) & 7;
    if (position >= hand.size()) throw util::Failure("an action code read against another hand");
    return hand[position];
  }
  Hand cards(const Hand& hand) const {
    Hand out;
    const auto count = static_cast<unsigned>((bits_ >> kCountShift) & 15);
    for (unsigned i = 0; i < count; ++i) out.push_back(card(hand, i));
    return out;
  }

  std::uint32_t bits_ = 0;
};

static_assert(sizeof(ActionCode) == 4);

}  // namespace vardelic::game
