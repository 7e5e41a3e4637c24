#include "players/mcts/policy.h"

#include "game/enemy.h"

namespace vardelic::players::mcts {

std::optional<MyPolicy> policy_from_number(std::optional<uint8_t> number) {
  constexpr double kMaxScore = game::kEnemies;  // the points of a won game
  constexpr double kDelta = 0.001;
  switch (number.value_or(0)) {
    case 0:
      return MyPolicy(UCTBase{kBaseExplorationConstant});
    case 2:
      return MyPolicy(UCTVariation2{kMaxScore, kDelta});
    case 3:
      return MyPolicy(UCTVariation3{kMaxScore, kDelta});
    case 4:
      return MyPolicy(UCTVariation4{kMaxScore});
    default:
      // 1 is not a policy number, though 0, 2, 3 and 4 are.
      return std::nullopt;
  }
}

}  // namespace vardelic::players::mcts
