#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <variant>

#include "game/state.h"

namespace vardelic::game {

// A state of one of the four player counts, chosen at run time; the variant index is the
// player count minus one and never changes.
using StateEnum = std::variant<State<1>, State<2>, State<3>, State<4>>;

// A fresh game of `players` players (1 to 4; anything else is nullopt).
inline std::optional<StateEnum> new_state_enum(std::size_t players,
                                               std::optional<std::uint64_t> seed) {
  switch (players) {
    case 1:
      return StateEnum(State<1>::create(seed));
    case 2:
      return StateEnum(State<2>::create(seed));
    case 3:
      return StateEnum(State<3>::create(seed));
    case 4:
      return StateEnum(State<4>::create(seed));
    default:
      return std::nullopt;
  }
}

inline std::size_t player_count(const StateEnum& state) { return state.index() + 1; }

}  // namespace vardelic::game
