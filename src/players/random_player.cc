#include "players/random_player.h"

#include "util/failure.h"

namespace vardelic::players {

RandomPlayer::RandomPlayer(std::optional<std::uint64_t> seed)
    : rng_(seed ? util::ChaCha12Rng::from_seed(*seed) : util::ChaCha12Rng::from_entropy()) {}

template <std::size_t N>
game::Action RandomPlayer::play(const game::State<N>& state) {
  std::vector<game::Action> actions = state.get_action_space();
  if (actions.empty()) throw util::Failure("No actions available to choose from");
  return actions[rng_.gen_below(actions.size())];
}

template game::Action RandomPlayer::play(const game::State<1>&);
template game::Action RandomPlayer::play(const game::State<2>&);
template game::Action RandomPlayer::play(const game::State<3>&);
template game::Action RandomPlayer::play(const game::State<4>&);

}  // namespace vardelic::players
