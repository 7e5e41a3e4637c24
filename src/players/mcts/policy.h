#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <variant>

#include "search/mcts.h"

namespace vardelic::players::mcts {

// The base UCT rule: mean + exploration_constant * sqrt(2 ln(N_i) / n).
struct UCTBase {
  double exploration_constant;
  friend bool operator==(const UCTBase&, const UCTBase&) = default;
};
// Exploration scaled by the highest value a playout can back up and tuned by a confidence
// parameter; the term grows with the number of unexpanded moves of the node.
struct UCTVariation2 {
  double max_score;
  double delta;
  friend bool operator==(const UCTVariation2&, const UCTVariation2&) = default;
};
// Like UCTVariation2, but the exploration term depends on the move's own count alone.
struct UCTVariation3 {
  double max_score;
  double delta;
  friend bool operator==(const UCTVariation3&, const UCTVariation3&) = default;
};
// Exploration from the node's visit count, scaled by max_score.
struct UCTVariation4 {
  double max_score;
  friend bool operator==(const UCTVariation4&, const UCTVariation4&) = default;
};

// The counts one move is scored from. `parent_visits` is N_i = 1 + the visits of all the node's
// moves; `leaf_node_count` = 1 + the number of its unexpanded moves.
struct MoveCounts {
  uint64_t visits;
  int64_t sum_evaluations;
  double parent_visits;
  double leaf_node_count;
};

// A move's score under each rule: +inf for an untried move (so untried moves tie exactly),
// otherwise s / n + W * sqrt(E / D) in double arithmetic, in this order. The terms that depend
// only on the node (its N_i and leaf_node_count) are computed once per node by node_terms and
// then shared by all its moves: the same operations in the same order, so the same scores.
struct NodeTerms {
  double value = 0;  // UCTBase: 2 ln(N_i); UCTVariation2: L + 3 ln(L); UCTVariation4: E
};

inline NodeTerms node_terms(const UCTBase& /*p*/, double parent_visits, double /*leaves*/) {
  return {2.0 * std::log(parent_visits)};
}
inline NodeTerms node_terms(const UCTVariation2& p, double /*parent_visits*/,
                            double leaf_node_count) {
  const double l = std::log(leaf_node_count / p.delta);
  return {l + 3.0 * std::log(l)};
}
inline NodeTerms node_terms(const UCTVariation3& /*p*/, double /*parent_visits*/,
                            double /*leaves*/) {
  return {};
}
inline NodeTerms node_terms(const UCTVariation4& /*p*/, double parent_visits, double /*leaves*/) {
  return {std::log(parent_visits) + 3.0 * std::log(std::log(parent_visits) + 1.0)};
}

inline double score(const UCTBase& p, const NodeTerms& t, uint64_t visits, int64_t sum) {
  if (visits == 0) return std::numeric_limits<double>::infinity();
  const double n = static_cast<double>(visits);
  const double s = static_cast<double>(sum);
  return s / n + p.exploration_constant * std::sqrt(t.value / n);
}
inline double score(const UCTVariation2& p, const NodeTerms& t, uint64_t visits, int64_t sum) {
  if (visits == 0) return std::numeric_limits<double>::infinity();
  const double n = static_cast<double>(visits);
  const double s = static_cast<double>(sum);
  const double e = t.value + 1.5 * std::log(std::log(n) + 1.0);
  return s / n + p.max_score * std::sqrt(e / (2.0 * n));
}
inline double score(const UCTVariation3& p, const NodeTerms& /*t*/, uint64_t visits, int64_t sum) {
  if (visits == 0) return std::numeric_limits<double>::infinity();
  const double n = static_cast<double>(visits);
  const double s = static_cast<double>(sum);
  const double e = (1.0 / n + 1.0) * std::log(std::sqrt(n + 1.0) / p.delta);
  return s / n + p.max_score * std::sqrt(e / (2.0 * n));
}
inline double score(const UCTVariation4& p, const NodeTerms& t, uint64_t visits, int64_t sum) {
  if (visits == 0) return std::numeric_limits<double>::infinity();
  const double n = static_cast<double>(visits);
  const double s = static_cast<double>(sum);
  return s / n + p.max_score * std::sqrt(t.value / (2.0 * n));
}

template <class P>
double score(const P& p, const MoveCounts& c) {
  return score(p, node_terms(p, c.parent_visits, c.leaf_node_count), c.visits, c.sum_evaluations);
}

// The system's tree policy: one of the four rules above. A read-only value shared by all
// search threads; ties are broken with the calling thread's PolicyRng.
class MyPolicy {
 public:
  using Variant = std::variant<UCTBase, UCTVariation2, UCTVariation3, UCTVariation4>;

  MyPolicy(UCTBase p) : variant_(p) {}  // NOLINT: implicit by design, like the variants
  MyPolicy(UCTVariation2 p) : variant_(p) {}
  MyPolicy(UCTVariation3 p) : variant_(p) {}
  MyPolicy(UCTVariation4 p) : variant_(p) {}

  const Variant& variant() const { return variant_; }

  // The score of one move with the given counts under this policy.
  double move_score(const MoveCounts& counts) const {
    return std::visit([&](const auto& p) { return score(p, counts); }, variant_);
  }

  // The move with the highest score, ties broken uniformly at random with the thread's
  // generator. Reads the statistics with relaxed loads while other threads change them. Returns
  // nullptr only if every score is NaN (which the search player's parameters never produce).
  template <class M>
  const search::MoveInfo<M>* choose_child(std::span<const search::MoveInfo<M>> moves,
                                          const search::SearchHandle<M>& handle) const {
    uint64_t total_visits = 0;
    std::size_t unexpanded = 0;
    for (const auto& move : moves) {
      total_visits += move.visits();
      unexpanded += move.child() ? 0 : 1;
    }
    const double parent_visits = 1.0 + static_cast<double>(total_visits);
    const double leaf_node_count = 1.0 + static_cast<double>(unexpanded);
    search::PolicyRng& rng = handle.thread_data().policy_data;
    // Dispatch once per node, not once per move, and compute the node's terms once.
    return std::visit(
        [&](const auto& p) {
          const NodeTerms terms = node_terms(p, parent_visits, leaf_node_count);
          return rng.select_by_key(moves, [&](const search::MoveInfo<M>& move) {
            return score(p, terms, move.visits(), move.sum_rewards());
          });
        },
        variant_);
  }

  template <class E>
  void validate_evaluations(std::span<const E> /*evaluations*/) const {}

  friend bool operator==(const MyPolicy&, const MyPolicy&) = default;

 private:
  Variant variant_;
};

// The exploration constant of the base rule: the double nearest to 12 * sqrt(2), 12 being the
// value of a won game.
inline constexpr double kBaseExplorationConstant = 16.970562748477143;

// The policy for the search player's policy number: absent or 0 gives UCTBase, 2, 3 and 4 the
// variations (max_score 12, delta 0.001); 1 and 5 to 255 give none.
std::optional<MyPolicy> policy_from_number(std::optional<uint8_t> number);

}  // namespace vardelic::players::mcts
