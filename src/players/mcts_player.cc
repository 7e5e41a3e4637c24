#include "players/mcts_player.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>

#include "players/mcts/policy.h"
#include "players/mcts/search_config.h"
#include "search/mcts.h"
#include "util/failure.h"
#include "util/rng.h"

namespace vardelic::players {
namespace {

template <std::size_t N, bool H>
void search_samples(const game::State<N>& state, const mcts::MyPolicy& policy,
                    std::uint32_t samples, std::uint32_t playouts, std::size_t num_threads,
                    std::unordered_map<game::Action, ActionTotals>& totals) {
  using Config = mcts::MyMCTS<N, H>;
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_entropy();
  for (std::uint32_t i = 0; i < samples; ++i) {
    // Every sample re-deals the caller's state; only the generator carries over. The re-deal
    // is the designed random_permutation (discard pile pooled), not game::deal_hidden: the
    // player's decisions for a seed are fixed by it.
    search::MCTSManager<Config> manager(state.random_permutation(rng), Config{},
                                        mcts::MyEvaluator<N>{}, policy, mcts::EmptyTable{});
    manager.playout_n_parallel(playouts, num_threads);
    const search::NodeHandle<Config> root = manager.root_node();
    for (const auto& edge : root.moves()) {
      ActionTotals& entry = totals[root.move_of(edge, manager.tree().root_state())];
      entry.visits += edge.visits();
      // Rewards are scores of 0 to 12, never negative.
      entry.reward += static_cast<std::uint64_t>(edge.sum_rewards());
    }
  }
}

}  // namespace

std::vector<RankedAction> rank_actions(std::vector<std::pair<game::Action, ActionTotals>> totals) {
  std::stable_sort(totals.begin(), totals.end(),
                   [](const auto& a, const auto& b) { return a.second.reward > b.second.reward; });
  std::stable_sort(totals.begin(), totals.end(),
                   [](const auto& a, const auto& b) { return a.second.visits > b.second.visits; });
  std::vector<RankedAction> ranked;
  ranked.reserve(totals.size());
  for (const auto& [action, t] : totals) {
    ranked.push_back(
        {action, t.visits, static_cast<double>(t.reward) / static_cast<double>(t.visits)});
  }
  return ranked;
}

template <std::size_t N>
game::Action MCTSPlayer::play(const game::State<N>& state) {
  std::optional<mcts::MyPolicy> policy = mcts::policy_from_number(policy_variation_);
  if (!policy) {
    throw util::Failure("Could not determine policy from number '" +
                        std::to_string(static_cast<unsigned>(*policy_variation_)) + "'");
  }

  std::unordered_map<game::Action, ActionTotals> totals;
  if (use_heuristics_) {
    search_samples<N, true>(state, *policy, deterministic_samples_, playouts_, num_threads_,
                            totals);
  } else {
    search_samples<N, false>(state, *policy, deterministic_samples_, playouts_, num_threads_,
                             totals);
  }

  std::vector<RankedAction> ranked = rank_actions({totals.begin(), totals.end()});
  if (ranked.empty()) throw util::Failure("No actions available to choose from");
  ranked_actions_ = std::move(ranked);
  return ranked_actions_->front().action;
}

template game::Action MCTSPlayer::play(const game::State<1>&);
template game::Action MCTSPlayer::play(const game::State<2>&);
template game::Action MCTSPlayer::play(const game::State<3>&);
template game::Action MCTSPlayer::play(const game::State<4>&);

}  // namespace vardelic::players
