#include "rl/vector_env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "rl/rl_testing.h"
#include "rl/worker_pool.h"

namespace vardelic::rl {
namespace {

// Everything a batch shows after a call, copied out.
struct Snapshot {
  std::vector<float> observations;
  std::vector<std::int8_t> masks;
  std::vector<float> rewards;
  std::vector<std::uint8_t> terminations;
  std::vector<std::int64_t> players;
  std::vector<std::uint64_t> seeds;
  friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

Snapshot snapshot(VectorEnv& env) {
  const std::size_t n = env.num_envs();
  const auto* terminations = reinterpret_cast<const std::uint8_t*>(env.terminations());
  return {{env.observations(), env.observations() + n * kObservationSize},
          {env.masks(), env.masks() + n * kNumActions},
          {env.rewards(), env.rewards() + n},
          {terminations, terminations + n},
          {env.players(), env.players() + n},
          {env.seeds(), env.seeds() + n}};
}

// A uniformly drawn legal id for every game, read from the masks as a learner would.
std::vector<std::int64_t> draw(VectorEnv& env, util::ChaCha12Rng& rng) {
  std::vector<std::int64_t> actions(env.num_envs());
  for (std::size_t i = 0; i < env.num_envs(); ++i) {
    std::vector<std::int64_t> legal;
    for (std::size_t id = 0; id < kNumActions; ++id) {
      if (env.masks()[i * kNumActions + id]) legal.push_back(static_cast<std::int64_t>(id));
    }
    actions[i] = legal.at(rng.gen_below(legal.size()));
  }
  return actions;
}

class Batch : public ::testing::TestWithParam<std::size_t> {};

// The same seed and the same ids give the same batch with 1, 2 and 3 threads, game i plays
// the episode seeded B + i + k * num_envs, and its rows match an Episode stepped alone.
TEST_P(Batch, ReplaysWhateverTheThreadCountAndMatchesLoneEpisodes) {
  constexpr std::size_t kEnvs = 5;
  const std::size_t players = GetParam();
  const std::uint64_t seed = 1000 * players;
  VectorEnv one(kEnvs, players, seed, 1), two(kEnvs, players, seed, 2), three(kEnvs, players, 9, 3);
  three.reset(seed);
  std::vector<AnyEpisode> alone;
  for (std::size_t i = 0; i < kEnvs; ++i) alone.emplace_back(players, seed + i);
  std::vector<std::size_t> episodes(kEnvs, 0);

  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(players);
  std::size_t finished = 0;
  for (int step = 0; step < 400; ++step) {
    const Snapshot a = snapshot(one);
    ASSERT_EQ(a, snapshot(two));
    ASSERT_EQ(a, snapshot(three));
    std::vector<float> row(kObservationSize);
    std::vector<std::int8_t> mask(kNumActions);
    for (std::size_t i = 0; i < kEnvs; ++i) {
      ASSERT_EQ(a.seeds[i], seed + i + episodes[i] * kEnvs);
      ASSERT_EQ(a.players[i], static_cast<std::int64_t>(alone[i].current_player()));
      alone[i].write_observation(alone[i].current_player(), row.data());
      alone[i].write_mask(mask.data());
      ASSERT_TRUE(
          std::equal(row.begin(), row.end(), a.observations.begin() + i * kObservationSize));
      ASSERT_TRUE(std::equal(mask.begin(), mask.end(), a.masks.begin() + i * kNumActions));
    }
    const std::vector<std::int64_t> actions = draw(one, rng);
    one.step(actions);
    two.step(actions);
    three.step(actions);
    for (std::size_t i = 0; i < kEnvs; ++i) {
      ASSERT_EQ(one.rewards()[i], static_cast<float>(alone[i].step(actions[i])));
      ASSERT_EQ(one.terminations()[i], alone[i].done());
      if (alone[i].done()) {
        ++finished;
        // The finished game's last position, seen by the player who ended it.
        alone[i].write_observation(static_cast<std::size_t>(a.players[i]), row.data());
        ASSERT_TRUE(
            std::equal(row.begin(), row.end(), one.final_observations() + i * kObservationSize));
        alone[i] = AnyEpisode(players, seed + i + ++episodes[i] * kEnvs);
      }
    }
  }
  EXPECT_GT(finished, 10u);
}

INSTANTIATE_TEST_SUITE_P(PlayerCounts, Batch, ::testing::Values(1, 2, 3, 4));

TEST(VectorEnv, ResetKeepsUnplayedGamesAndStartsPlayedOnesAnew) {
  VectorEnv env(3, 2, 50, 2);
  const Snapshot dealt = snapshot(env);
  env.reset(std::nullopt);
  EXPECT_EQ(snapshot(env), dealt);
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(1);
  env.step(draw(env, rng));
  env.reset(std::nullopt);
  EXPECT_EQ(std::vector<std::uint64_t>(env.seeds(), env.seeds() + 3),
            (std::vector<std::uint64_t>{53, 54, 55}));
  env.reset(50);
  EXPECT_EQ(snapshot(env), dealt);
}

TEST(WorkerPool, RunsEveryIndexOncePerRunAndPassesOnAFailure) {
  WorkerPool pool(3);
  std::array<std::atomic<int>, 3> runs{};
  for (int round = 0; round < 200; ++round) {
    pool.run([&](std::size_t t) { runs[t].fetch_add(1, std::memory_order_relaxed); });
  }
  for (auto& r : runs) EXPECT_EQ(r.load(), 200);
  EXPECT_THROW(pool.run([](std::size_t t) {
    if (t == 2) throw std::runtime_error("worker failed");
  }),
               std::runtime_error);
  pool.run([&](std::size_t t) { runs[t].fetch_add(1, std::memory_order_relaxed); });
  for (auto& r : runs) EXPECT_EQ(r.load(), 201);
}

}  // namespace
}  // namespace vardelic::rl
