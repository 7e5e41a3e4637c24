#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "game/action.h"
#include "game/state.h"

namespace vardelic::players {

// Asks a person at the terminal: prints the player to move, the current enemy and the
// numbered legal actions, then reads lines until one names an action.
class InputPlayer {
 public:
  // The streams default to standard input and output; tests pass others.
  explicit InputPlayer(std::FILE* in = stdin, std::FILE* out = stdout) : in_(in), out_(out) {}

  // Throws Failure "Error reading input." when a line cannot be read (end of input
  // included), and "No actions available to choose from" for a state without actions.
  template <std::size_t N>
  game::Action play(const game::State<N>& state) const;

 private:
  std::FILE* in_;
  std::FILE* out_;
};

// An answer as the dialogue reads it: surrounding white space removed, an optional "+",
// then a decimal number that fits 64 bits; anything else is nullopt.
std::optional<std::uint64_t> parse_answer(std::string_view line);

}  // namespace vardelic::players
