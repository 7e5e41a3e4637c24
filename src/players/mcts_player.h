#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "game/action.h"
#include "game/state.h"

namespace vardelic::players {

// One candidate of the last decision: visits and mean reward pooled over every sample.
struct RankedAction {
  game::Action action;
  std::uint64_t visits;
  double avg_reward;  // NaN for an action that was never visited
};

// One action's statistics pooled over a decision's samples.
struct ActionTotals {
  std::uint64_t visits = 0;
  std::uint64_t reward = 0;  // sum of backed-up scores, never negative
};

// The ranking of a decision: by visits, highest first, and equal visits by total reward,
// highest first (two stable sorts, so entries equal in both keep their given order). The mean
// reward of an unvisited action is 0/0, NaN.
std::vector<RankedAction> rank_actions(std::vector<std::pair<game::Action, ActionTotals>> totals);

// Decides by tree search over determinised samples: each sample re-deals what the player to
// move cannot see, gets a fresh tree and `playouts` playouts on `num_threads` workers; root
// statistics are pooled by action and ranked by visits, then total reward. The most visited
// action is played. The ranking of the last successful decision is kept for inspection.
class MCTSPlayer {
 public:
  MCTSPlayer(std::uint32_t playouts, std::size_t num_threads, bool use_heuristics,
             std::optional<std::uint8_t> policy_variation = std::nullopt,
             std::uint32_t deterministic_samples = 1)
      : playouts_(playouts),
        deterministic_samples_(deterministic_samples),
        num_threads_(num_threads),
        use_heuristics_(use_heuristics),
        policy_variation_(policy_variation) {}

  // Throws Failure with the fixed messages: an unknown policy number, zero threads with
  // playouts, an empty ranking ("No actions available to choose from"). A failed decision
  // changes nothing.
  template <std::size_t N>
  game::Action play(const game::State<N>& state);

  // Absent until a decision has succeeded.
  const std::optional<std::vector<RankedAction>>& ranked_actions() const { return ranked_actions_; }

 private:
  std::uint32_t playouts_;
  std::uint32_t deterministic_samples_;
  std::size_t num_threads_;
  bool use_heuristics_;
  std::optional<std::uint8_t> policy_variation_;
  std::optional<std::vector<RankedAction>> ranked_actions_;
};

}  // namespace vardelic::players
