#include "agents/evaluation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <tuple>
#include <vector>

#include "util/failure.h"

namespace vardelic::agents {
namespace {

TEST(FitPointWeights, RecoversTheWeightsThatMadeTheSamples) {
  std::array<double, kPointWeights> truth{};
  for (std::size_t k = 0; k < truth.size(); ++k) truth[k] = 0.1 * static_cast<double>(k % 7) - 0.3;
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(3);
  std::vector<PointSample> samples;
  for (int i = 0; i < 4000; ++i) {
    PointSample sample;
    sample.level = 1 + static_cast<unsigned>(rng.gen_below(11));
    for (double& feature : sample.features) feature = static_cast<double>(rng.gen_below(20));
    // Unclamped, so that an exact fit exists.
    double points = truth[sample.level - 1];
    for (std::size_t j = 0; j < kPointFeatures; ++j) {
      points += (truth[11 + 2 * j] + truth[12 + 2 * j] * sample.level) * sample.features[j];
    }
    sample.points = points;
    samples.push_back(sample);
  }
  const auto fitted = fit_point_weights(samples, 0);
  for (std::size_t k = 0; k < truth.size(); ++k) EXPECT_NEAR(fitted[k], truth[k], 1e-6) << k;
  // The estimate clamps what a linear model says to the points a game can end with.
  const std::array<double, kPointWeights> zeros{};
  EXPECT_EQ(estimate_points(5, samples[0].features, zeros), 5.0);
  std::array<double, kPointWeights> high{};
  high[4] = 40;
  EXPECT_EQ(estimate_points(5, samples[0].features, high), 12.0);
}

class FittedPointsByPlayers : public ::testing::TestWithParam<std::tuple<int, Heuristic>> {};

template <std::size_t N>
void expect_calibrated(Heuristic heuristic) {
  // Deals the fit never saw (it used seeds below a million), played by the policy of the weights.
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(77);
  const std::vector<PointSample> samples =
      sample_points<N>(1'000'000'000, 3000, 0.1, rng, heuristic_weights(heuristic));
  ASSERT_GT(samples.size(), 5000u);
  const std::array<double, game::kEnemies> by_level = level_means(samples);
  double bias = 0;
  double model = 0;
  double level_only = 0;
  for (const PointSample& s : samples) {
    const double estimate =
        estimate_points(s.level, s.features, fitted_point_weights(N, heuristic));
    ASSERT_GE(estimate, s.level);
    ASSERT_LE(estimate, game::kEnemies);
    bias += (estimate - s.points) / static_cast<double>(samples.size());
    model += (estimate - s.points) * (estimate - s.points);
    level_only += (by_level[s.level] - s.points) * (by_level[s.level] - s.points);
  }
  // Unbiased on fresh deals, and closer than the level alone, even with the level means taken
  // from these very games. Weights of another player count, or of the other heuristic, miss
  // the first (by 0.18 to 0.27 points for the other heuristic).
  EXPECT_LT(std::abs(bias), 0.1);
  EXPECT_LT(model, 0.95 * level_only);
}

TEST_P(FittedPointsByPlayers, EstimatesTheRolloutPolicysPointsOnFreshDeals) {
  const auto [players, heuristic] = GetParam();
  switch (players) {
    case 1:
      expect_calibrated<1>(heuristic);
      break;
    case 2:
      expect_calibrated<2>(heuristic);
      break;
    case 3:
      expect_calibrated<3>(heuristic);
      break;
    default:
      expect_calibrated<4>(heuristic);
  }
}

INSTANTIATE_TEST_SUITE_P(Players, FittedPointsByPlayers,
                         ::testing::Combine(::testing::Values(1, 2, 3, 4),
                                            ::testing::Values(Heuristic::First, Heuristic::Tuned)));

TEST(FittedPoints, EachHeuristicHasItsOwnWeights) {
  for (std::size_t players = 1; players <= 4; ++players) {
    const auto first = fitted_point_weights(players, Heuristic::First);
    const auto tuned = fitted_point_weights(players, Heuristic::Tuned);
    EXPECT_FALSE(std::equal(first.begin(), first.end(), tuned.begin())) << players;
    EXPECT_EQ(fitted_point_weights(players).data(), first.data()) << players;
  }
  EXPECT_THROW(fitted_point_weights(5, Heuristic::Tuned), util::Failure);
}

}  // namespace
}  // namespace vardelic::agents
