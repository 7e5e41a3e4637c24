#pragma once

// A toy game for the search engine's tests: a counter that each move raises by one of a fixed
// list of increments, for a fixed number of steps. Its evaluation is the counter itself, so the
// best first move is the largest increment. Hooks in the evaluator let tests block, count or
// fail evaluations; a small shared table gives the transposition paths something to do.

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

#include "search/mcts.h"

namespace vardelic::testing {

struct CountingState {
  int64_t total = 0;
  int steps_left = 0;
  std::vector<int> increments = {0, 1, 2};
  // Adds a move "pass" (increment 0 that uses no step), so the state repeats: a cycle as soon
  // as a table shares nodes between equal states.
  bool allow_pass = false;

  int current_player() const { return steps_left % 2; }
  // Moves are encoded as the increment; -1 is the pass.
  std::vector<int> available_moves() const {
    if (steps_left == 0) return {};
    std::vector<int> moves = increments;
    if (allow_pass) moves.push_back(-1);
    return moves;
  }
  void make_move(int move) {
    if (move < 0) return;
    total += move;
    --steps_left;
  }
  std::pair<int64_t, int> key() const { return {total, steps_left}; }
};

// A counting game of `steps` moves, each adding one of `increments`.
inline CountingState game(int steps, std::vector<int> increments = {0, 1, 2}) {
  CountingState state;
  state.steps_left = steps;
  state.increments = std::move(increments);
  return state;
}

// Counts live nodes through their per-node data, so tests can see that a released tree leaves
// none behind and that a lost expansion is released at once.
struct CountedNodeData {
  static std::atomic<int64_t>& live() {
    static std::atomic<int64_t> count{0};
    return count;
  }
  CountedNodeData() { live().fetch_add(1, std::memory_order_relaxed); }
  CountedNodeData(const CountedNodeData&) { live().fetch_add(1, std::memory_order_relaxed); }
  ~CountedNodeData() { live().fetch_sub(1, std::memory_order_relaxed); }
};

struct ToyHooks {
  // Called at the start of evaluate_new_state for non-root nodes (parent handle present).
  std::function<void()> on_new_state;
  // Called at the start of evaluate_existing_state.
  std::function<void()> on_existing_state;
  std::atomic<uint64_t> new_states{0};
  std::atomic<uint64_t> existing_states{0};
};

struct ToyEvaluator {
  std::shared_ptr<ToyHooks> hooks = std::make_shared<ToyHooks>();

  template <class M>
  std::pair<search::MoveEvaluationList<search::Empty>, int64_t> evaluate_new_state(
      const CountingState& state, const std::vector<int>& moves,
      const search::SearchHandle<M>* handle) const {
    hooks->new_states.fetch_add(1, std::memory_order_relaxed);
    if (handle != nullptr && hooks->on_new_state) hooks->on_new_state();
    return {search::MoveEvaluationList<search::Empty>(moves.size()), state.total};
  }
  template <class M>
  int64_t evaluate_existing_state(const CountingState& state, int64_t /*evaln*/,
                                  const search::SearchHandle<M>& /*handle*/) const {
    hooks->existing_states.fetch_add(1, std::memory_order_relaxed);
    if (hooks->on_existing_state) hooks->on_existing_state();
    return state.total;
  }
  int64_t interpret_evaluation_for_player(int64_t evaluation, int /*player*/) const {
    return evaluation;
  }
};

// Plain UCT with untried moves first; ties go to select_by_key.
struct ToyPolicy {
  double exploration = 2.0;

  template <class M>
  const search::MoveInfo<M>* choose_child(std::span<const search::MoveInfo<M>> moves,
                                          const search::SearchHandle<M>& handle) const {
    double total = 1;
    for (const auto& move : moves) total += static_cast<double>(move.visits());
    return handle.thread_data().policy_data.select_by_key(moves, [&](const auto& move) {
      const double n = static_cast<double>(move.visits());
      if (n == 0) return std::numeric_limits<double>::infinity();
      return static_cast<double>(move.sum_rewards()) / n +
             exploration * std::sqrt(std::log(total) / n);
    });
  }
  void validate_evaluations(std::span<const search::Empty>) const {}
};

// Stores nothing.
struct ToyEmptyTable {
  template <class M>
  search::SearchNode<M>* lookup(const CountingState&, const search::SearchHandle<M>&) const {
    return nullptr;
  }
  template <class M>
  search::SearchNode<M>* insert(const CountingState&, search::SearchNode<M>*,
                                const search::SearchHandle<M>&) const {
    return nullptr;
  }
};

// Stores nothing and says so (kStoresNothing): the engine then keeps each node's statistics in
// its parent edge alone.
using ToyNoTable = search::NoTable;

// Shares nodes between equal states. With `use_lookup` false it only answers inserts, so an
// equal state reached by another path is found late (after its own node was built).
struct ToySharingTable {
  struct Shared {
    std::mutex mutex;
    std::map<std::pair<int64_t, int>, const void*> nodes;
  };
  std::shared_ptr<Shared> shared = std::make_shared<Shared>();
  bool use_lookup = true;

  template <class M>
  static search::SearchNode<M>* stored(const void* node) {
    return const_cast<search::SearchNode<M>*>(static_cast<const search::SearchNode<M>*>(node));
  }

  template <class M>
  search::SearchNode<M>* lookup(const CountingState& state, const search::SearchHandle<M>&) const {
    if (!use_lookup) return nullptr;
    std::lock_guard<std::mutex> lock(shared->mutex);
    auto it = shared->nodes.find(state.key());
    if (it == shared->nodes.end()) return nullptr;
    return stored<M>(it->second);
  }
  template <class M>
  search::SearchNode<M>* insert(const CountingState& state, search::SearchNode<M>* node,
                                const search::SearchHandle<M>&) const {
    std::lock_guard<std::mutex> lock(shared->mutex);
    auto [it, inserted] = shared->nodes.emplace(state.key(), node);
    if (inserted) return nullptr;
    return stored<M>(it->second);
  }
};

template <class T>
struct ToyConfig : search::MCTSDefaults {
  using State = CountingState;
  using Eval = ToyEvaluator;
  using Policy = ToyPolicy;
  using Table = T;
  using NodeData = CountedNodeData;
  using ThreadExtra = search::Empty;
  using StateEvaluation = int64_t;
  using MoveEvaluation = search::Empty;
  using Player = int;
  using Move = int;
  using MoveList = std::vector<int>;

  std::size_t playout_length = 1000;
  std::size_t limit = std::numeric_limits<std::size_t>::max();
  uint64_t expansion_visits = 1;
  int64_t loss = 0;
  search::CycleBehaviour<int64_t> on_cycle = search::PanicWhenCycleDetected{};

  int64_t virtual_loss() const { return loss; }
  uint64_t visits_before_expansion() const { return expansion_visits; }
  std::size_t node_limit() const { return limit; }
  std::size_t max_playout_length() const { return playout_length; }
  search::CycleBehaviour<int64_t> cycle_behaviour() const { return on_cycle; }
};

struct ToyMCTS : ToyConfig<ToyEmptyTable> {};
struct ToySharingMCTS : ToyConfig<ToySharingTable> {};
struct ToyOneCopyMCTS : ToyConfig<ToyNoTable> {};

template <class M>
search::MCTSManager<M> make_manager(CountingState state, M config = {}, ToyEvaluator eval = {},
                                    typename M::Table table = {}) {
  return search::MCTSManager<M>(std::move(state), std::move(config), std::move(eval), ToyPolicy{},
                                std::move(table));
}

// Visits every node of the tree once (owned edges only), parents before children.
template <class M, class F>
void for_each_node(const search::SearchNode<M>& node, F&& visit) {
  visit(node);
  for (const auto& edge : node.moves()) {
    if (auto child = edge.child(); child && edge.owned()) for_each_node(*child->get(), visit);
  }
}

}  // namespace vardelic::testing
