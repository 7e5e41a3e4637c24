// Fits the weights of fitted_points (evaluation.h) and prints them as fitted_points.inc:
//
//   build/src/agents/vardelic_fit_points [GAMES] > src/agents/fitted_points.inc
//
// GAMES (default 300000) rollout-policy games per player count and heuristic, from the deals
// seeded 0 to GAMES - 1, at the search's default epsilon. Every fifth block of 64 positions is held
// out, and the standard error stream shows the fit's mean squared error on them beside the level's
// mean alone and the overall mean, so that a fit that explains nothing is seen.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "agents/evaluation.h"
#include "agents/ismcts.h"

namespace {

using vardelic::agents::Heuristic;
using vardelic::agents::PointSample;

template <std::size_t N>
void fit(std::size_t games, Heuristic heuristic) {
  auto rng = vardelic::util::ChaCha12Rng::from_seed(N);
  const double epsilon = vardelic::agents::ISMCTSSettings{}.epsilon;
  const std::vector<PointSample> samples = vardelic::agents::sample_points<N>(
      0, games, epsilon, rng, vardelic::agents::heuristic_weights(heuristic));
  // Held out by blocks: a game's positions are consecutive, so most of a game stays together.
  std::vector<PointSample> train;
  std::vector<PointSample> test;
  for (std::size_t k = 0; k < samples.size(); ++k) {
    (k / 64 % 5 == 4 ? test : train).push_back(samples[k]);
  }
  const auto weights = vardelic::agents::fit_point_weights(train);
  const auto by_level = vardelic::agents::level_means(train);
  double model = 0;
  double level_only = 0;
  double mean = 0;
  for (const PointSample& s : test) mean += s.points / static_cast<double>(test.size());
  double total = 0;
  for (const PointSample& s : test) {
    const double estimate = vardelic::agents::estimate_points(
        s.level, s.features, std::span<const double, vardelic::agents::kPointWeights>(weights));
    model += (estimate - s.points) * (estimate - s.points);
    level_only += (by_level[s.level] - s.points) * (by_level[s.level] - s.points);
    total += (mean - s.points) * (mean - s.points);
  }
  std::fprintf(stderr,
               "%s, %zu players: %zu samples; held-out mean squared error %.3f (level's mean alone "
               "%.3f, overall mean %.3f)\n",
               heuristic == Heuristic::Tuned ? "tuned" : "first", N, samples.size(),
               model / test.size(), level_only / test.size(), total / test.size());
  std::printf("    {");
  for (std::size_t k = 0; k < weights.size(); ++k) {
    std::printf("%s%.9g", k == 0 ? "" : ", ", weights[k]);
  }
  std::printf("},\n");
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t games = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 300000;
  if (games < 10) {
    std::fprintf(stderr, "usage: vardelic_fit_points [GAMES (at least 10)]\n");
    return 2;
  }
  std::printf(
      "// Made by vardelic_fit_points %zu (fit_points_main.cc): one row per player count,\n"
      "// the first heuristic's rows, then the tuned one's.\n",
      games);
  for (Heuristic heuristic : {Heuristic::First, Heuristic::Tuned}) {
    fit<1>(games, heuristic);
    fit<2>(games, heuristic);
    fit<3>(games, heuristic);
    fit<4>(games, heuristic);
  }
}
