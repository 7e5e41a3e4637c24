#pragma once

#include <cstdint>

#include "game/card.h"
#include "util/debug_text.h"

namespace vardelic::game {

// The enemies of a game, all of which must fall to win: four Jacks, Queens and Kings.
inline constexpr std::uint8_t kEnemies = 12;

// Starting health and attack by rank: Jack 20/10, Queen 30/15, King 40/20 (a card that is not
// an enemy gives 0).
constexpr std::int8_t starting_health(CardValue value) {
  const int k = static_cast<int>(value) - static_cast<int>(CardValue::Jack);
  return k < 0 || k > 2 ? 0 : static_cast<std::int8_t>(20 + 10 * k);
}
constexpr std::uint8_t starting_attack(CardValue value) {
  const int k = static_cast<int>(value) - static_cast<int>(CardValue::Jack);
  return k < 0 || k > 2 ? 0 : static_cast<std::uint8_t>(10 + 5 * k);
}

// A royal card in play: its remaining health (zero or below means defeated), its current
// attack (never below 0) and whether a jester has been played against it. Equality compares
// all four fields, so an enemy only matches a fresh enemy of its card while untouched.
class Enemy {
 public:
  // Starting values by rank (starting_health, starting_attack). Throws Failure
  // "<card> is not an enemy" for a card that is not a Jack, Queen or King.
  static Enemy create(Card card);

  Card card() const { return card_; }
  std::int8_t health() const { return health_; }
  std::uint8_t attack_value() const { return attack_; }
  bool jester_applied() const { return jester_applied_; }

  // Throws Failure "That's a lot of damage!" for 128 or more; nothing changes then.
  void take_damage(std::uint16_t amount);
  // Lowers the attack, floored at 0. Throws the same Failure for 256 or more.
  void decrease_attack(std::uint16_t by);
  void apply_jester() { jester_applied_ = true; }

  friend bool operator==(const Enemy&, const Enemy&) = default;

 private:
  Card card_{};
  std::int8_t health_ = 0;
  std::uint8_t attack_ = 0;
  bool jester_applied_ = false;
};

void write_debug(util::DebugWriter& w, const Enemy& enemy);

}  // namespace vardelic::game
