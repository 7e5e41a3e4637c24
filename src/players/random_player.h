#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "game/action.h"
#include "game/state.h"
#include "util/rng.h"

namespace vardelic::players {

// Picks uniformly among the legal actions with a generator of its own: one draw per call,
// so the same seed shown the same states chooses the same actions. A copy continues from the
// same generator position independently.
class RandomPlayer {
 public:
  // Seeded from `seed`, or from this thread's entropy-seeded generator when absent.
  explicit RandomPlayer(std::optional<std::uint64_t> seed);

  // Throws Failure "No actions available to choose from" when the state offers no action.
  template <std::size_t N>
  game::Action play(const game::State<N>& state);

 private:
  util::ChaCha12Rng rng_;
};

}  // namespace vardelic::players
