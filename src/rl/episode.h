#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "game/action.h"
#include "game/state.h"
#include "game/state_enum.h"
#include "rl/action_ids.h"
#include "rl/observation.h"

namespace vardelic::rl {

// One game of N players stepped by action id, with its legal actions kept ready for the next
// step. A seeded episode deals exactly as State::create does, so it plays move for move like
// the game driver given the same seed and the same choices.
//
// The game ends when the rules say so (a loss, or the attack after the twelfth enemy fell),
// and also when a position lists no legal action at all (a solo refill that cannot cover the
// owed discard): that position is lost with the enemies defeated so far, since no move can
// follow it. A finished episode keeps the last position it was in.
template <std::size_t N>
class Episode {
 public:
  explicit Episode(std::optional<std::uint64_t> seed) { reset(seed); }
  explicit Episode(const game::State<N>& state) { reset(state); }

  void reset(std::optional<std::uint64_t> seed) { reset(game::State<N>::create(seed)); }
  void reset(const game::State<N>& state);

  const game::State<N>& state() const { return state_; }
  const LegalActions& legal() const { return legal_; }
  bool done() const { return result_.has_value(); }
  const std::optional<game::GameResult>& result() const { return result_; }
  // Enemies defeated so far: the points of the result once there is one (game::points).
  int reward() const { return result_ ? game::points(*result_) : state_.level; }

  // Applies the action of a legal id and returns the enemies it defeated. An id that is not
  // legal (every id, once the game is done) throws std::invalid_argument and changes nothing.
  int step(std::int64_t id);

  // The observation of `observer`, and the legal ids of the player to move (all 0 once done).
  void write_observation(std::size_t observer, float* out) const {
    rl::write_observation(state_, observer, out);
  }
  void write_mask(std::int8_t* out) const { legal_.write_mask(out); }

  // "action id 9 is not legal (legal ids: [0, 1, 2])", or the message of a finished game.
  std::string illegal_message(std::int64_t id) const;

 private:
  game::State<N> state_;
  LegalActions legal_;
  std::optional<game::GameResult> result_;
};

// An episode of any player count, chosen at run time: what Python's Game holds.
class AnyEpisode {
 public:
  // Calls f with the Episode<N> of this game. Defined first: the members below deduce their
  // results from it.
  template <typename F>
  decltype(auto) visit(F&& f) const {
    return std::visit(std::forward<F>(f), episode_);
  }

  // Throws std::invalid_argument for a player count other than 1 to 4. Without a seed one is
  // drawn from entropy and kept, so that every game can be recorded and replayed.
  AnyEpisode(std::size_t num_players, std::optional<std::uint64_t> seed);
  // A game picked up at `state`: it has no seed and records no moves before it.
  explicit AnyEpisode(const game::StateEnum& state);

  // The seed the game was dealt from (none for a game picked up at a state), and the ids
  // stepped since, in order.
  std::optional<std::uint64_t> seed() const { return seed_; }
  const std::vector<std::int16_t>& moves() const { return moves_; }

  std::size_t num_players() const { return episode_.index() + 1; }
  std::size_t current_player() const {
    return visit([](const auto& e) { return e.state().has_turn.id; });
  }
  bool done() const {
    return visit([](const auto& e) { return e.done(); });
  }
  int reward() const {
    return visit([](const auto& e) { return e.reward(); });
  }
  std::optional<game::GameResult> result() const {
    return visit([](const auto& e) { return e.result(); });
  }
  int step(std::int64_t id) {
    const int defeated = std::visit([id](auto& e) { return e.step(id); }, episode_);
    moves_.push_back(static_cast<std::int16_t>(id));  // legal, so below kNumActions
    return defeated;
  }
  // Steps the ids in order. At the first one that is not legal, throws std::invalid_argument
  // naming its index in `ids` and the legal ids; the moves before it stay played.
  void step_all(std::span<const std::int64_t> ids);
  void write_observation(std::size_t observer, float* out) const {
    visit([&](const auto& e) { e.write_observation(observer, out); });
  }
  void write_mask(std::int8_t* out) const {
    visit([&](const auto& e) { e.write_mask(out); });
  }
  const LegalActions& legal() const {
    return visit([](const auto& e) -> const LegalActions& { return e.legal(); });
  }
  game::StateEnum state() const {
    return visit([](const auto& e) { return game::StateEnum(e.state()); });
  }
  std::string illegal_message(std::int64_t id) const {
    return visit([id](const auto& e) { return e.illegal_message(id); });
  }
  // The position's display text, then the result once the game is over.
  std::string text() const;

 private:
  std::optional<std::uint64_t> seed_;  // before episode_, which is dealt from it
  game::ByPlayers<Episode> episode_;
  std::vector<std::int16_t> moves_;
};

extern template class Episode<1>;
extern template class Episode<2>;
extern template class Episode<3>;
extern template class Episode<4>;

}  // namespace vardelic::rl
