#pragma once

#include <variant>

#include "game/action.h"
#include "game/state_enum.h"
#include "players/input_player.h"
#include "players/mcts_player.h"
#include "players/random_player.h"

namespace vardelic::players {

// The built-in players a seat can own, behind the one `play` interface.
using BuiltinPlayer = std::variant<RandomPlayer, InputPlayer, MCTSPlayer>;

// Asks the player for an action on a copy of the state of the variant's player count.
inline game::Action play(BuiltinPlayer& player, const game::StateEnum& state) {
  return std::visit([](auto& p, const auto& s) -> game::Action { return p.play(s); }, player,
                    state);
}

}  // namespace vardelic::players
