#include "game/enemy.h"

#include "util/failure.h"

namespace vardelic::game {

Enemy Enemy::create(Card card) {
  int k = static_cast<int>(card.value) - static_cast<int>(CardValue::Jack);
  if (k < 0 || k > 2) throw util::Failure(card_text(card) + " is not an enemy");
  Enemy enemy;
  enemy.card_ = card;
  enemy.health_ = starting_health(card.value);
  enemy.attack_ = starting_attack(card.value);
  return enemy;
}

void Enemy::take_damage(std::uint16_t amount) {
  if (amount > 127) throw util::Failure("That's a lot of damage!");
  health_ = static_cast<std::int8_t>(health_ - static_cast<int>(amount));
}

void Enemy::decrease_attack(std::uint16_t by) {
  if (by > 255) throw util::Failure("That's a lot of damage!");
  attack_ = by >= attack_ ? 0 : static_cast<std::uint8_t>(attack_ - by);
}

void write_debug(util::DebugWriter& w, const Enemy& enemy) {
  w.record("Enemy")
      .field("card", enemy.card())
      .field("health", enemy.health())
      .field("attack", enemy.attack_value())
      .field("jester_applied", enemy.jester_applied())
      .finish();
}

}  // namespace vardelic::game
