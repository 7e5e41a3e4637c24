#pragma once

// Random play for the learning environments' tests: seeded games of uniformly drawn legal ids.

#include <cstddef>
#include <cstdint>

#include "rl/episode.h"
#include "util/rng.h"

namespace vardelic::rl::testing {

// A uniformly drawn legal id of a game in progress.
template <std::size_t N>
std::int64_t random_id(const Episode<N>& episode, util::ChaCha12Rng& rng) {
  const auto ids = episode.legal().ids();
  return ids[rng.gen_below(ids.size())];
}

// Plays `games` seeded random games, calling visit(episode) on every position in progress,
// until at least `min_positions` positions were visited and `games` games played. Returns the
// number of positions visited.
template <std::size_t N, typename Visit>
std::size_t play_random_games(std::uint64_t first_seed, std::size_t games,
                              std::size_t min_positions, Visit&& visit) {
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(first_seed ^ 0x5eed);
  std::size_t positions = 0;
  for (std::uint64_t g = 0; g < games || positions < min_positions; ++g) {
    Episode<N> episode(first_seed + g);
    while (!episode.done()) {
      visit(episode);
      ++positions;
      episode.step(random_id(episode, rng));
    }
  }
  return positions;
}

}  // namespace vardelic::rl::testing
