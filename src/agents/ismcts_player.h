#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "agents/ismcts.h"
#include "game/action.h"
#include "game/state.h"
#include "game/state_enum.h"
#include "util/rng.h"

namespace vardelic::agents {

// One candidate of the last decision, pooled over the search threads.
struct RankedAction {
  game::Action action;
  std::uint64_t visits;
  double avg_reward;  // mean score of 0 to 12; NaN for an action never visited
};

// What the last decision spent.
struct DecisionInfo {
  std::uint64_t iterations = 0;     // run by this decision, over all threads
  std::uint64_t reused_visits = 0;  // root visits brought along from the previous decision
  double milliseconds = 0;
};

// Decides by information-set tree search (ismcts.h) within a budget of wall time, iterations or
// both, whichever runs out first.
//
// Its decisions depend only on what the player to move sees, has seen at its earlier decisions
// (with remember on: what it saw happen to the tavern deck, TavernMemory) and on the generator
// (with Redeal::None, the clairvoyant yardstick, on the whole state and the generator): with a
// seed and one thread, the same sequence of states gives the same actions (under an iteration
// budget; a time budget runs as many iterations as the clock allows). With reuse on it keeps,
// between two calls, the subtree below the action it played; the next call uses it when its
// state is what that action led to (seen from the same player), and drops it otherwise. With
// Branch::Enemy it keeps only the branch of the enemy that the state shows.
//
// Not thread-safe: one decision at a time. Worker threads live only inside play.
class ISMCTSPlayer {
 public:
  // Throws std::invalid_argument when the settings make no sense (validate). Without time_ms
  // and iterations the budget is kDefaultIterations.
  explicit ISMCTSPlayer(const ISMCTSSettings& settings);

  // The empty text for usable settings, else what is wrong with them: a budget that is not
  // positive, no thread or more than kMaxThreads, a negative exploration constant, an epsilon
  // outside [0, 1].
  static std::string validate(const ISMCTSSettings& settings);
  static constexpr std::size_t kMaxThreads = 256;
  // The budget of a player given neither time_ms nor iterations.
  static constexpr std::uint64_t kDefaultIterations = 2000;

  // The action to play, one of state's listed actions. Throws util::Failure "No actions
  // available to choose from" when there is none; a failed decision changes nothing.
  game::Action play(const game::StateEnum& state);
  template <std::size_t N>
  game::Action play(const game::State<N>& state);

  // The last decision's candidates by visits, then mean reward, highest first; every listed
  // action appears once. Empty before the first decision.
  const std::vector<RankedAction>& ranked_actions() const { return ranked_; }
  const DecisionInfo& last_decision() const { return info_; }
  const ISMCTSSettings& settings() const { return settings_; }

 private:
  template <std::size_t N>
  struct Memory {
    std::vector<ISMCTSTree<N>> trees;  // one per thread
    std::optional<game::State<N>> last_state;
    std::optional<game::Action> last_action;
    TavernMemory tavern;  // followed from one decision to the next (settings.remember)
  };

  ISMCTSSettings settings_;
  std::optional<util::ChaCha12Rng> rng_;  // the decisions' seeds, when the player has a seed
  std::variant<std::monostate, Memory<1>, Memory<2>, Memory<3>, Memory<4>> memory_;
  std::vector<RankedAction> ranked_;
  DecisionInfo info_;
};

}  // namespace vardelic::agents
