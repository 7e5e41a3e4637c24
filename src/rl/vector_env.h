#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "rl/action_ids.h"
#include "rl/episode.h"
#include "rl/observation.h"
#include "rl/worker_pool.h"

namespace vardelic::rl {

// The games of one batch, all of N players.
template <std::size_t N>
using EpisodeBatch = std::vector<Episode<N>>;

// A batch of games of one player count, stepped together by action ids, the batch split into
// contiguous slices over `num_threads` threads (the caller's and a pool's). Every result is
// written into buffers the batch owns and reuses: a step allocates nothing.
//
// Outputs, row i for game i, each from the view of that game's player to move:
//   observations  num_envs x kObservationSize floats
//   masks         num_envs x kNumActions bytes, 1 at the legal ids
//   rewards       enemies defeated by the last step (so an episode's return is its score)
//   terminations  1 where the last step ended the game
//   players       the player to move
//   final_observations  where the last step ended a game, that game's last position from the
//                 view of the player who made the last move (other rows hold older data)
//
// Automatic reset, same-step: a step that ends a game reports its reward and termination and
// starts the game's next episode at once; the row's observation and mask are the new game's.
//
// Seeding: from a base seed B (given, or drawn from the system's entropy), game i plays the
// seeds B + i, B + i + num_envs, B + i + 2 num_envs, ... (modulo 2^64), episode by episode.
// Each game has its own sequence, so the batch replays identically whatever the thread count,
// and game i's episode k deals exactly as State::create(B + i + k num_envs).
//
// Not for concurrent use: a second call while one runs (from another thread) throws
// std::runtime_error and changes nothing.
class VectorEnv {
 public:
  // Throws std::invalid_argument for num_envs or num_threads of 0, or players outside 1..4.
  VectorEnv(std::size_t num_envs, std::size_t num_players, std::optional<std::uint64_t> seed,
            std::size_t num_threads);

  std::size_t num_envs() const { return num_envs_; }
  std::size_t num_players() const { return envs_.index() + 1; }
  std::size_t num_threads() const { return pool_.size(); }

  // Starts a new episode in every game: with a seed, the sequences restart from it; without
  // one, each game goes on to its next seed, except that games not stepped since they were
  // dealt (by the constructor or a reset) are kept as they are. Rewards and terminations are 0.
  void reset(std::optional<std::uint64_t> seed);
  // One action id per game. Every id is checked before any game moves: an id that is not
  // legal throws std::invalid_argument naming the game and the id, and no game changes.
  void step(std::span<const std::int64_t> actions);

  float* observations() { return observations_.data(); }
  std::int8_t* masks() { return masks_.data(); }
  float* rewards() { return rewards_.data(); }
  bool* terminations() { return terminations_.get(); }
  std::int64_t* players() { return players_.data(); }
  float* final_observations() { return final_observations_.data(); }
  // The seed of each game's current episode.
  std::uint64_t* seeds() { return seeds_.data(); }

 private:
  template <std::size_t N>
  void start_episode(Episode<N>& env, std::size_t i);
  template <std::size_t N>
  void write_outputs(const Episode<N>& env, std::size_t i);
  // Runs body(i) for every game, the games split into one contiguous slice per thread.
  template <typename Body>
  void for_each_env(Body&& body);

  // Refuses a call that overlaps another (the binding releases the interpreter lock).
  class Exclusive {
   public:
    explicit Exclusive(std::atomic<bool>& flag);
    ~Exclusive() { flag_.store(false, std::memory_order_release); }

   private:
    std::atomic<bool>& flag_;
  };

  std::size_t num_envs_;
  game::ByPlayers<EpisodeBatch> envs_;
  std::vector<std::uint64_t> next_seeds_;
  std::vector<std::uint64_t> seeds_;
  bool fresh_ = true;  // no game stepped since the last deal
  std::atomic<bool> busy_{false};
  WorkerPool pool_;

  std::vector<float> observations_;
  std::vector<std::int8_t> masks_;
  std::vector<float> rewards_;
  std::unique_ptr<bool[]> terminations_;  // not std::vector<bool>, which packs bits
  std::vector<std::int64_t> players_;
  std::vector<float> final_observations_;
};

}  // namespace vardelic::rl
