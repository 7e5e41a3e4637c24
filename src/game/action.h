#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "game/card.h"
#include "game/enemy.h"
#include "game/player.h"
#include "util/debug_text.h"

namespace vardelic::game {

// The seven kinds of move, numbered as their variants.
enum class ActionKind : std::uint8_t {
  Play = 0,
  AnimalCombo,
  Combo,
  Yield,
  Discard,
  ChangePlayer,
  RefillHand,
};

// A move: a tagged value whose payload is a card list (one card for Play, two for
// AnimalCombo, at most 4 for Combo, at most 8 for Discard) or a player for ChangePlayer.
// Equality and hashing cover the variant and the payload in order, so two combos of the
// same cards in another order are different actions. Owns no memory.
class Action {
 public:
  static Action play(Card card) { return Action(ActionKind::Play, {card}); }
  static Action animal_combo(Card first, Card second) {
    return Action(ActionKind::AnimalCombo, {first, second});
  }
  // Throws Failure for more than 4 cards.
  template <typename Range>
  static Action combo(const Range& cards) {
    return Action(ActionKind::Combo, Hand::from_range(ComboCards::from_range(cards)));
  }
  static Action yield() { return Action(ActionKind::Yield, {}); }
  template <typename Range>
  static Action discard(const Range& cards) {
    return Action(ActionKind::Discard, Hand::from_range(cards));
  }
  // The discard of the hand's cards whose positions are the set bits of `mask`, in hand order.
  static Action discard_subset(const Hand& hand, unsigned mask) {
    Action action(ActionKind::Discard, {});
    for (; mask != 0; mask &= mask - 1) action.cards_.push_back(hand[std::countr_zero(mask)]);
    return action;
  }
  static Action change_player(PlayerId id) {
    Action action(ActionKind::ChangePlayer, {});
    action.player_ = id;
    return action;
  }
  static Action refill_hand() { return Action(ActionKind::RefillHand, {}); }

  ActionKind kind() const { return kind_; }
  // The played, combined or discarded cards in order (empty for the other kinds).
  const Hand& cards() const { return cards_; }
  PlayerId player() const { return player_; }

  friend bool operator==(const Action&, const Action&) = default;

 private:
  Action(ActionKind kind, const Hand& cards) : cards_(cards), kind_(kind) {}

  // The kind right after the 17 bytes of cards keeps an action at 32 bytes.
  Hand cards_;
  ActionKind kind_;
  PlayerId player_{};
};

std::string_view kind_name(ActionKind kind);  // "Play", "AnimalCombo", ...
static_assert(sizeof(Action) == 32, "actions are copied by the hundred in every rollout step");

void write_debug(util::DebugWriter& w, const Action& action);
std::string action_text(const Action& action);

// Won, or Lost with the number of enemies defeated.
class GameResult {
 public:
  static constexpr GameResult Won() { return GameResult(true, 0); }
  static constexpr GameResult Lost(std::uint8_t score) { return GameResult(false, score); }
  constexpr bool won() const { return won_; }
  constexpr std::uint8_t score() const { return score_; }  // the score of a loss; 0 for a win
  friend bool operator==(const GameResult&, const GameResult&) = default;

 private:
  constexpr GameResult(bool won, std::uint8_t score) : won_(won), score_(score) {}
  bool won_;
  std::uint8_t score_;
};

// The points of a result: kEnemies for a win, the enemies defeated for a loss. (score() keeps
// its own meaning, the score of a loss, 0 for a win.)
constexpr std::uint8_t points(const GameResult& result) {
  return result.won() ? kEnemies : result.score();
}

void write_debug(util::DebugWriter& w, const GameResult& result);

}  // namespace vardelic::game

template <>
struct std::hash<vardelic::game::Action> {
  std::size_t operator()(const vardelic::game::Action& a) const noexcept {
    // FNV-1a over the variant number, then the payload in order.
    std::size_t h = 1469598103934665603ULL;
    auto mix = [&h](std::size_t byte) { h = (h ^ byte) * 1099511628211ULL; };
    mix(static_cast<std::size_t>(a.kind()));
    mix(a.cards().size());
    for (auto card : a.cards()) mix(std::hash<vardelic::game::Card>{}(card));
    mix(a.player().id);
    return h;
  }
};
