#include "rl/episode.h"

#include <stdexcept>

#include "util/debug_text.h"
#include "util/rng.h"

namespace vardelic::rl {

template <std::size_t N>
void Episode<N>::reset(const game::State<N>& state) {
  state_ = state;
  legal_.build(state_);
  result_ = game::stuck_result(state_);
}

template <std::size_t N>
int Episode<N>::step(std::int64_t id) {
  if (!legal_.is_legal(id)) throw std::invalid_argument(illegal_message(id));
  const int before = state_.level;
  // Stepped on a copy: a move that ends the game leaves the last position as it was.
  game::State<N> next = state_;
  if (std::optional<game::GameResult> result = next.step(legal_.action(id))) {
    result_ = result;
    legal_.clear();
    return reward() - before;
  }
  state_ = next;
  legal_.build(state_);
  result_ = game::stuck_result(state_);
  return state_.level - before;
}

template <std::size_t N>
std::string Episode<N>::illegal_message(std::int64_t id) const {
  if (done()) {
    return "action id " + std::to_string(id) + " is not legal: the game is over";
  }
  return "action id " + std::to_string(id) + " is not legal (legal ids: " + legal_.ids_text() + ")";
}

template class Episode<1>;
template class Episode<2>;
template class Episode<3>;
template class Episode<4>;

AnyEpisode::AnyEpisode(std::size_t num_players, std::optional<std::uint64_t> seed)
    : seed_(seed ? *seed : util::ChaCha12Rng::from_entropy().next_u64()),
      episode_(game::with_players(num_players, [this](auto n) {
        return game::ByPlayers<Episode>(std::in_place_type<Episode<decltype(n)::value>>, seed_);
      })) {}

void AnyEpisode::step_all(std::span<const std::int64_t> ids) {
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (!legal().is_legal(ids[i])) {
      throw std::invalid_argument("move " + std::to_string(i) + ": " + illegal_message(ids[i]));
    }
    step(ids[i]);
  }
}

AnyEpisode::AnyEpisode(const game::StateEnum& state)
    : episode_(std::visit(
          [](const auto& s) {
            using S = std::decay_t<decltype(s)>;
            return decltype(episode_)(std::in_place_type<Episode<S::kPlayers>>, s);
          },
          state)) {}

std::string AnyEpisode::text() const {
  return visit([](const auto& e) {
    std::string text = e.state().display_text();
    if (e.result()) text += "\nResult: " + util::debug_text(*e.result());
    return text;
  });
}

}  // namespace vardelic::rl
