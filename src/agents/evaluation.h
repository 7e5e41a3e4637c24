#pragma once

// A static estimate of the points a world will end with, for rollouts cut short.
//
// A rollout's final score is mostly the luck of the deck orders it was dealt: after a kill, what
// happens beyond the next few enemies says little about the action being judged and costs most
// of the rollout. The estimate stands in for that far end: the points the rollout policy scores
// from the world, on average, fitted by least squares on positions of rollout-policy games just
// after a kill (the only positions the search asks about). Per player count it is an intercept
// for each level plus, for each feature, a weight that changes linearly with the level.
//
// fit_points_main.cc makes the weights (fitted_points.inc) from seeded games, so they can be
// made again.

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "agents/heuristics.h"
#include "game/state.h"
#include "util/rng.h"

namespace vardelic::agents {

// What the estimate reads of a world, whose hands and deck a search dealt itself: the cards in
// all hands, their attack values, the tavern deck's size, the jesters in hands and in the deck,
// the hands' cards of each suit (Spades, Hearts, Diamonds, Clubs), the solo refills left and
// the deck's attack values.
inline constexpr std::size_t kPointFeatures = 11;
// Levels 1 to 11 have an intercept each; every feature has a weight and a weight per level.
inline constexpr std::size_t kPointWeights = game::kEnemies - 1 + 2 * kPointFeatures;

template <std::size_t N>
std::array<double, kPointFeatures> point_features(const game::State<N>& world);

// The points (level to 12) the rollout policy judging by `heuristic` is expected to end `world`
// with; `world` has defeated 1 to 11 enemies and not ended.
template <std::size_t N>
double fitted_points(const game::State<N>& world, Heuristic heuristic = Heuristic::First);

// The shipped weights for `players` (1 to 4) players and the rollout policy of `heuristic`.
std::span<const double, kPointWeights> fitted_point_weights(std::size_t players,
                                                            Heuristic heuristic = Heuristic::First);

// The estimate of a position of `level` (1 to 11) with `features`, by `weights`: levels 1 to
// 11's intercepts, then for each feature its weight and its weight per level.
double estimate_points(unsigned level, const std::array<double, kPointFeatures>& features,
                       std::span<const double, kPointWeights> weights);

// One position of a rollout-policy game after a kill and the points that game ended with.
struct PointSample {
  unsigned level = 0;
  std::array<double, kPointFeatures> features{};
  double points = 0;
};

// Plays `games` games of N players from fresh deals seeded first_seed, first_seed + 1, ...,
// by the rollout policy with `epsilon` and `weights` (its other choices drawn from `rng`), and
// returns the position after every kill that did not end the game, with the game's final points.
template <std::size_t N>
std::vector<PointSample> sample_points(std::uint64_t first_seed, std::size_t games, double epsilon,
                                       util::ChaCha12Rng& rng,
                                       const HeuristicWeights& weights = kFirstWeights);

// The mean points of `samples` at each level (0 at a level none reached): the estimate that
// knows the level alone, which fitted weights should beat.
std::array<double, game::kEnemies> level_means(std::span<const PointSample> samples);

// Least-squares weights for `samples` (with a ridge of `ridge` times the sample count on every
// weight, which keeps collinear features solvable).
std::array<double, kPointWeights> fit_point_weights(std::span<const PointSample> samples,
                                                    double ridge = 1e-6);

}  // namespace vardelic::agents
