#pragma once

// The search engine bound to the game: configuration MyMCTS<N, H>, rollout evaluator
// MyEvaluator<N> and the transposition table EmptyTable. A search player builds
//
//   search::MCTSManager<MyMCTS<N, H>> manager(state, MyMCTS<N, H>{}, MyEvaluator<N>{}, policy,
//                                             EmptyTable{});
//   manager.playout_n_parallel(playouts, num_threads);
//   for (const auto& edge : manager.root_node().moves())
//     ... root.move_of(edge, manager.tree().root_state()), edge.visits(), edge.sum_rewards()

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "game/action.h"
#include "game/action_code.h"
#include "game/action_count.h"
#include "game/player.h"
#include "game/state.h"
#include "players/mcts/policy.h"
#include "search/mcts.h"
#include "util/rng.h"

namespace vardelic::players::mcts {

using game::Action;
using game::GameResult;
using game::Player;
using game::State;

// The reward of a result for any player (the game is cooperative): its points, game::kEnemies
// for a win, otherwise the number of enemies defeated.
inline int64_t result_value(const GameResult& result) { return game::points(result); }

// The actions a rollout draws from at `state`, written into `out` (cleared first): the action
// space, and with `heuristics` only the actions prune_bad_moves keeps (it filters in place, so
// the buffer is reused).
template <bool heuristics, std::size_t N>
void rollout_actions(const State<N>& state, std::vector<Action>& out) {
  out.clear();
  state.append_action_space(out);
  if constexpr (heuristics) out = prune_bad_moves(std::move(out));
}

// One random rollout of the whole remaining game from `state`, with the generator given: the
// hidden cards are dealt again, then actions are drawn uniformly from rollout_actions until the
// game ends. A position without a legal action ends as game::stuck_result says. A state marked as
// ended by make_move still shows the position before its ending action: one action is drawn from
// that position, and unless it ends the game itself the marked result is returned.
//
// This is the reference that builds every step's list; the search runs `rollout`, which must
// make the same draws and reach the same result.
template <bool heuristics, std::size_t N>
GameResult list_rollout(const State<N>& state, util::ChaCha12Rng& rng) {
  State<N> current = state.random_permutation(rng);
  std::vector<Action> actions;  // one buffer for the whole rollout
  for (;;) {
    if (std::optional<GameResult> stuck = game::stuck_result(current)) return *stuck;
    rollout_actions<heuristics>(current, actions);
    const Action action = actions[rng.gen_below(actions.size())];
    // In place rather than through apply_action's copy: the same rules, one copy fewer per step.
    if (std::optional<GameResult> result = current.step(action)) return *result;
    if (current.has_ended) return *current.has_ended;
  }
}

// The rollout the search runs: list_rollout's draws and result, step for step, but each step
// counts its action space and builds only the action drawn (IndexedActionSpace).
template <bool heuristics, std::size_t N>
GameResult rollout(const State<N>& state, util::ChaCha12Rng& rng) {
  State<N> current = state.random_permutation(rng);
  for (;;) {
    if (std::optional<GameResult> stuck = game::stuck_result(current)) return *stuck;
    const game::IndexedActionSpace<N> actions(current, heuristics);
    // Built before the step, which changes the hand the space reads.
    const Action action = actions[rng.gen_below(actions.size())];
    if (std::optional<GameResult> result = current.step(action)) return *result;
    if (current.has_ended) return *current.has_ended;
  }
}

// The rollouts' generator of one search thread (its ThreadData's extra data): seeded on first
// use from the thread's entropy-seeded generator, then drawn on by every rollout the thread runs.
class RolloutGenerator {
 public:
  util::ChaCha12Rng& get() {
    if (!rng_) rng_ = util::ChaCha12Rng::from_entropy();
    return *rng_;
  }

 private:
  std::optional<util::ChaCha12Rng> rng_;
};

template <std::size_t N>
struct MyEvaluator {
  // One rollout with the search thread's generator (the root, evaluated with no handle and so
  // no thread, gets a fresh one seeded from the calling thread's entropy-seeded generator); the
  // move evaluations are empty and take no memory. The heuristics flag comes from the
  // configuration; the root's call has no handle, but its type still names the configuration.
  template <class M>
  std::pair<search::MoveEvaluationList<search::Empty>, GameResult> evaluate_new_state(
      const State<N>& state, const std::vector<Action>& moves,
      const search::SearchHandle<M>* handle) const {
    return {search::MoveEvaluationList<search::Empty>(moves.size()), run_rollout(state, handle)};
  }

  // A fresh rollout; the stored evaluation is ignored. Goes straight to the rollout: the move
  // list evaluate_new_state would get only sizes evaluations that are thrown away here.
  template <class M>
  GameResult evaluate_existing_state(const State<N>& state, const GameResult& /*evaln*/,
                                     const search::SearchHandle<M>& handle) const {
    return run_rollout(state, &handle);
  }

  int64_t interpret_evaluation_for_player(const GameResult& evaln, const Player& /*player*/) const {
    return result_value(evaln);
  }

 private:
  template <class M>
  static GameResult run_rollout(const State<N>& state, const search::SearchHandle<M>* handle) {
    static_assert(std::is_same_v<typename M::ThreadExtra, RolloutGenerator>);
    if (handle == nullptr) {
      util::ChaCha12Rng rng = util::ChaCha12Rng::from_entropy();
      return rollout<M::kHeuristics>(state, rng);
    }
    return rollout<M::kHeuristics>(state, handle->thread_data().extra_data.get());
  }
};

// Stores nothing: every state reached gets a node of its own.
using EmptyTable = search::NoTable;

// The configuration for N players with the rollout heuristics on (H) or off.
template <std::size_t N, bool H>
struct MyMCTS : search::MCTSDefaults {
  using State = game::State<N>;
  using Eval = MyEvaluator<N>;
  using Policy = MyPolicy;
  using Table = EmptyTable;
  using NodeData = search::Empty;
  using ThreadExtra = RolloutGenerator;
  using StateEvaluation = GameResult;
  using MoveEvaluation = search::Empty;
  using Player = game::Player;
  using Move = Action;
  using MoveList = std::vector<Action>;
  // Nodes keep 4-byte codes relative to the mover's hand rather than 32-byte actions.
  using MoveCode = game::ActionCode;
  static constexpr bool kHeuristics = H;

  static MoveCode encode_move(const State& state, const Action& action) {
    return MoveCode(state.current_player().hand, action);
  }
  static Action decode_move(const State& state, MoveCode code) {
    return code.action(state.current_player().hand);
  }

  std::size_t max_playout_length() const { return 1000; }
  std::size_t node_limit() const { return std::numeric_limits<std::size_t>::max(); }
  uint64_t visits_before_expansion() const { return 1; }
  search::CycleBehaviour<GameResult> cycle_behaviour() const {
    return search::PanicWhenCycleDetected{};
  }
};

template <std::size_t N, bool H>
using MyManager = search::MCTSManager<MyMCTS<N, H>>;

// The manager of one search on `state` (evaluates the root once, here).
template <std::size_t N, bool H>
MyManager<N, H> make_manager(const State<N>& state, const MyPolicy& policy) {
  return MyManager<N, H>(state, MyMCTS<N, H>{}, MyEvaluator<N>{}, policy, EmptyTable{});
}

}  // namespace vardelic::players::mcts
