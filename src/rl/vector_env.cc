#include "rl/vector_env.h"

#include <stdexcept>
#include <string>

#include "util/rng.h"

namespace vardelic::rl {
namespace {

using Envs = game::ByPlayers<EpisodeBatch>;

Envs make_envs(std::size_t num_players, std::size_t count) {
  return game::with_players(num_players, [count](auto n) {
    std::vector<Episode<decltype(n)::value>> envs;
    envs.reserve(count);
    // Placeholders: the constructor deals every game from its own seed right after.
    for (std::size_t i = 0; i < count; ++i) envs.emplace_back(std::uint64_t{0});
    return Envs(std::move(envs));
  });
}

std::size_t checked_count(std::size_t value, const char* name) {
  if (value == 0) throw std::invalid_argument(std::string(name) + " must be at least 1");
  return value;
}

}  // namespace

VectorEnv::Exclusive::Exclusive(std::atomic<bool>& flag) : flag_(flag) {
  if (flag_.exchange(true, std::memory_order_acquire)) {
    throw std::runtime_error("this VectorEnv is already in use by another thread");
  }
}

VectorEnv::VectorEnv(std::size_t num_envs, std::size_t num_players,
                     std::optional<std::uint64_t> seed, std::size_t num_threads)
    : num_envs_(checked_count(num_envs, "num_envs")),
      envs_(make_envs(num_players, num_envs)),
      next_seeds_(num_envs),
      seeds_(num_envs),
      // No more threads than games: an idle thread would only cost a wake-up per step.
      pool_(std::min(checked_count(num_threads, "num_threads"), num_envs)),
      observations_(num_envs * kObservationSize),
      masks_(num_envs * kNumActions),
      rewards_(num_envs),
      terminations_(new bool[num_envs]()),
      players_(num_envs),
      final_observations_(num_envs * kObservationSize) {
  const std::uint64_t base = seed ? *seed : util::ChaCha12Rng::from_entropy().next_u64();
  for (std::size_t i = 0; i < num_envs_; ++i) next_seeds_[i] = base + i;
  fresh_ = false;
  reset(std::nullopt);
}

template <typename Body>
void VectorEnv::for_each_env(Body&& body) {
  const std::size_t threads = pool_.size();
  pool_.run([&](std::size_t t) {
    const std::size_t end = (t + 1) * num_envs_ / threads;
    for (std::size_t i = t * num_envs_ / threads; i < end; ++i) body(i);
  });
}

template <std::size_t N>
void VectorEnv::start_episode(Episode<N>& env, std::size_t i) {
  seeds_[i] = next_seeds_[i];
  next_seeds_[i] += num_envs_;
  env.reset(seeds_[i]);
}

template <std::size_t N>
void VectorEnv::write_outputs(const Episode<N>& env, std::size_t i) {
  const std::size_t to_move = env.state().has_turn.id;
  env.write_observation(to_move, observations_.data() + i * kObservationSize);
  env.write_mask(masks_.data() + i * kNumActions);
  players_[i] = static_cast<std::int64_t>(to_move);
}

void VectorEnv::reset(std::optional<std::uint64_t> seed) {
  Exclusive exclusive(busy_);
  if (seed) {
    for (std::size_t i = 0; i < num_envs_; ++i) next_seeds_[i] = *seed + i;
  }
  const bool deal = seed.has_value() || !fresh_;
  std::visit(
      [&](auto& envs) {
        for_each_env([&](std::size_t i) {
          if (deal) start_episode(envs[i], i);
          write_outputs(envs[i], i);
          rewards_[i] = 0.0f;
          terminations_[i] = false;
        });
      },
      envs_);
  fresh_ = true;
}

void VectorEnv::step(std::span<const std::int64_t> actions) {
  Exclusive exclusive(busy_);
  if (actions.size() != num_envs_) {
    throw std::invalid_argument("expected one action id per game (" + std::to_string(num_envs_) +
                                "), got " + std::to_string(actions.size()));
  }
  std::visit(
      [&](auto& envs) {
        for (std::size_t i = 0; i < num_envs_; ++i) {
          if (!envs[i].legal().is_legal(actions[i])) {
            throw std::invalid_argument("game " + std::to_string(i) + ": " +
                                        envs[i].illegal_message(actions[i]));
          }
        }
        fresh_ = false;
        for_each_env([&](std::size_t i) {
          auto& env = envs[i];
          rewards_[i] = static_cast<float>(env.step(actions[i]));
          terminations_[i] = env.done();
          if (env.done()) {
            // players_[i] still names the player who just moved.
            const auto mover = static_cast<std::size_t>(players_[i]);
            env.write_observation(mover, final_observations_.data() + i * kObservationSize);
            start_episode(env, i);
          }
          write_outputs(env, i);
        });
      },
      envs_);
}

}  // namespace vardelic::rl
