#include "agents/evaluation.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "agents/heuristics.h"
#include "util/failure.h"

namespace vardelic::agents {
namespace {

// One weight table per rollout policy (Heuristic's order) and player count, from
// fit_points_main.cc.
constexpr std::array<std::array<double, kPointWeights>, 8> kFittedWeights = {{
#include "agents/fitted_points.inc"
}};

constexpr std::size_t kPlayerCounts = 4;

constexpr std::size_t kGameSteps = 2000;  // far beyond any game's length

}  // namespace

template <std::size_t N>
std::array<double, kPointFeatures> point_features(const game::State<N>& world) {
  double cards = 0;
  double hand_value = 0;
  double hand_jesters = 0;
  std::array<double, 4> suits{};
  for (const game::Player& player : world.players) {
    for (game::Card card : player.hand) {
      cards += 1;
      hand_value += card.attack_value();
      if (card.is_jester()) {
        hand_jesters += 1;
      } else {
        suits[static_cast<std::size_t>(card.suit)] += 1;
      }
    }
  }
  double deck_jesters = 0;
  double deck_value = 0;
  for (game::Card card : world.table.tavern_deck) {
    deck_jesters += card.is_jester() ? 1 : 0;
    deck_value += card.attack_value();
  }
  return {cards,
          hand_value,
          static_cast<double>(world.table.tavern_deck.size()),
          hand_jesters,
          deck_jesters,
          suits[0],
          suits[1],
          suits[2],
          suits[3],
          static_cast<double>(world.hand_refills_left),
          deck_value};
}

double estimate_points(unsigned level, const std::array<double, kPointFeatures>& features,
                       std::span<const double, kPointWeights> weights) {
  if (level < 1 || level >= game::kEnemies) {
    throw util::Failure("the estimate needs 1 to 11 enemies defeated");
  }
  double points = weights[level - 1];
  for (std::size_t j = 0; j < kPointFeatures; ++j) {
    const double weight =
        weights[game::kEnemies - 1 + 2 * j] + weights[game::kEnemies + 2 * j] * level;
    points += weight * features[j];
  }
  // Beyond the fitted range a linear model can say anything; the points cannot.
  return std::clamp(points, static_cast<double>(level), static_cast<double>(game::kEnemies));
}

std::span<const double, kPointWeights> fitted_point_weights(std::size_t players,
                                                            Heuristic heuristic) {
  if (players < 1 || players > kPlayerCounts) {
    throw util::Failure("weights are fitted for 1 to 4 players");
  }
  return kFittedWeights[static_cast<std::size_t>(heuristic) * kPlayerCounts + players - 1];
}

template <std::size_t N>
double fitted_points(const game::State<N>& world, Heuristic heuristic) {
  return estimate_points(world.level, point_features(world), fitted_point_weights(N, heuristic));
}

template <std::size_t N>
std::vector<PointSample> sample_points(std::uint64_t first_seed, std::size_t games, double epsilon,
                                       util::ChaCha12Rng& rng, const HeuristicWeights& weights) {
  std::vector<PointSample> samples;
  std::vector<game::Action> buffer;
  for (std::size_t g = 0; g < games; ++g) {
    game::State<N> state = game::State<N>::create(first_seed + g);
    const std::size_t first = samples.size();
    double points = state.level;
    game::Action action = game::Action::yield();
    for (std::size_t step = 0; step < kGameSteps; ++step) {
      if (std::optional<game::GameResult> stuck = game::stuck_result(state)) {
        points = game::points(*stuck);
        break;
      }
      if (!rollout_action(state, epsilon, rng, buffer, action, weights)) break;
      const unsigned before = state.level;
      if (std::optional<game::GameResult> result = state.step(action)) {
        points = game::points(*result);
        break;
      }
      points = state.level;
      if (state.level > before && state.level < game::kEnemies) {
        samples.push_back({state.level, point_features(state), 0});
      }
    }
    for (std::size_t k = first; k < samples.size(); ++k) samples[k].points = points;
  }
  return samples;
}

std::array<double, game::kEnemies> level_means(std::span<const PointSample> samples) {
  std::array<double, game::kEnemies> sum{};
  std::array<double, game::kEnemies> count{};
  for (const PointSample& sample : samples) {
    sum.at(sample.level) += sample.points;
    count.at(sample.level) += 1;
  }
  for (std::size_t level = 0; level < sum.size(); ++level) {
    if (count[level] > 0) sum[level] /= count[level];
  }
  return sum;
}

std::array<double, kPointWeights> fit_point_weights(std::span<const PointSample> samples,
                                                    double ridge) {
  // The normal equations (X'X + ridge n I) w = X'y, solved by Gaussian elimination with
  // partial pivoting: 33 unknowns.
  constexpr std::size_t K = kPointWeights;
  std::array<std::array<double, K + 1>, K> system{};
  std::array<double, K> row{};
  for (const PointSample& sample : samples) {
    if (sample.level < 1 || sample.level >= game::kEnemies) {
      throw util::Failure("a sample needs 1 to 11 enemies defeated");
    }
    row.fill(0);
    row[sample.level - 1] = 1;
    for (std::size_t j = 0; j < kPointFeatures; ++j) {
      row[game::kEnemies - 1 + 2 * j] = sample.features[j];
      row[game::kEnemies + 2 * j] = sample.features[j] * sample.level;
    }
    for (std::size_t a = 0; a < K; ++a) {
      if (row[a] == 0) continue;
      for (std::size_t b = 0; b < K; ++b) system[a][b] += row[a] * row[b];
      system[a][K] += row[a] * sample.points;
    }
  }
  const double shrink = ridge * static_cast<double>(std::max<std::size_t>(samples.size(), 1));
  for (std::size_t a = 0; a < K; ++a) system[a][a] += shrink;
  for (std::size_t col = 0; col < K; ++col) {
    std::size_t pivot = col;
    for (std::size_t r = col + 1; r < K; ++r) {
      if (std::abs(system[r][col]) > std::abs(system[pivot][col])) pivot = r;
    }
    std::swap(system[col], system[pivot]);
    // A level no sample reached leaves its intercept to the ridge alone.
    if (system[col][col] == 0) continue;
    for (std::size_t r = 0; r < K; ++r) {
      if (r == col || system[r][col] == 0) continue;
      const double factor = system[r][col] / system[col][col];
      for (std::size_t c = col; c <= K; ++c) system[r][c] -= factor * system[col][c];
    }
  }
  std::array<double, K> weights{};
  for (std::size_t a = 0; a < K; ++a) {
    weights[a] = system[a][a] == 0 ? 0 : system[a][K] / system[a][a];
  }
  return weights;
}

#define VARDELIC_INSTANTIATE(N)                                                          \
  template std::array<double, kPointFeatures> point_features(const game::State<N>&);     \
  template double fitted_points(const game::State<N>&, Heuristic);                       \
  template std::vector<PointSample> sample_points<N>(std::uint64_t, std::size_t, double, \
                                                     util::ChaCha12Rng&, const HeuristicWeights&);
VARDELIC_INSTANTIATE(1)
VARDELIC_INSTANTIATE(2)
VARDELIC_INSTANTIATE(3)
VARDELIC_INSTANTIATE(4)
#undef VARDELIC_INSTANTIATE

}  // namespace vardelic::agents
