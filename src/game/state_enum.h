#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <variant>

#include "game/state.h"

namespace vardelic::game {

// The player counts a game allows, and the words every interface refuses any other with.
inline constexpr std::size_t kMaxPlayers = 4;
inline constexpr const char* kPlayerCountMessage = "Only 1-4 players are allowed";

// One of T<1> .. T<4>, chosen at run time: the variant index is the player count minus one.
template <template <std::size_t> class T>
using ByPlayers = std::variant<T<1>, T<2>, T<3>, T<4>>;

// f(std::integral_constant<std::size_t, players>{}) for a player count of 1 to 4, the one
// dispatch from a run-time count to the compile-time N; any other count throws
// std::invalid_argument(kPlayerCountMessage).
template <typename F>
decltype(auto) with_players(std::size_t players, F&& f) {
  switch (players) {
    case 1:
      return f(std::integral_constant<std::size_t, 1>{});
    case 2:
      return f(std::integral_constant<std::size_t, 2>{});
    case 3:
      return f(std::integral_constant<std::size_t, 3>{});
    case 4:
      return f(std::integral_constant<std::size_t, 4>{});
    default:
      throw std::invalid_argument(kPlayerCountMessage);
  }
}

// A state of one of the four player counts; its player count never changes.
using StateEnum = ByPlayers<State>;

// A fresh game of `players` players (1 to 4; anything else is nullopt).
inline std::optional<StateEnum> new_state_enum(std::size_t players,
                                               std::optional<std::uint64_t> seed) {
  if (players < 1 || players > kMaxPlayers) return std::nullopt;
  return with_players(players,
                      [&](auto n) { return StateEnum(State<decltype(n)::value>::create(seed)); });
}

inline std::size_t player_count(const StateEnum& state) { return state.index() + 1; }

}  // namespace vardelic::game
