#pragma once

// The playout: a descent by the tree policy from the root, the expansion of at most one node
// (published to the other workers by a compare-exchange on the edge), the evaluation and the
// backup along the path. SearchTree owns the nodes and every counter of a search.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "search/config.h"
#include "search/node.h"
#include "search/small_vector.h"
#include "util/failure.h"

namespace vardelic::search {

// Adds 1 to a counter for as long as it lives; `num_nodes` is the value before the increment.
struct IncreaseSentinel {
  // Relaxed: the counter is only compared against the node limit, which tolerates a stale view.
  explicit IncreaseSentinel(std::atomic<std::size_t>& counter)
      : x(counter), num_nodes(counter.fetch_add(1, std::memory_order_relaxed)) {}
  ~IncreaseSentinel() { x.fetch_sub(1, std::memory_order_relaxed); }
  IncreaseSentinel(const IncreaseSentinel&) = delete;
  IncreaseSentinel& operator=(const IncreaseSentinel&) = delete;

  std::atomic<std::size_t>& x;
  std::size_t num_nodes;
};

template <MCTS M>
class MCTSManager;

// The tree of one search: the root node, the state it stands for, the configuration's policy,
// table and evaluator, and counters. playout() may be called by any number of threads at once;
// everything else is for the owning thread, or for reading once the playouts have stopped.
template <class M>
class SearchTree {
 public:
  using State = typename M::State;
  using Eval = typename M::Eval;
  using Policy = typename M::Policy;
  using Table = typename M::Table;
  using StateEvaluation = typename M::StateEvaluation;

  // Builds the root with create_node (its evaluation runs here, once, with no handle).
  SearchTree(State root_state, M manager, Eval eval, Policy tree_policy, Table table)
      : manager_(std::move(manager)),
        eval_(std::move(eval)),
        tree_policy_(std::move(tree_policy)),
        table_(std::move(table)),
        root_state_(std::move(root_state)) {
    static_assert(GameState<State, M>);
    static_assert(Evaluator<Eval, M>);
    static_assert(TreePolicy<Policy, M>);
    static_assert(TranspositionTable<Table, M>);
    root_node_ = create_node(root_state_, nullptr, &root_stats_);
  }
  ~SearchTree() {
    release_subtree(root_node_);
    for (SearchNode<M>* node : orphaned_) release_subtree(node);
  }
  SearchTree(const SearchTree&) = delete;
  SearchTree& operator=(const SearchTree&) = delete;

  // One playout with the calling thread's data: descend by the tree policy, create at most one
  // node, evaluate, back up. Returns false (changing nothing) when the node limit refuses it.
  // Throws util::Failure on a cycle with PanicWhenCycleDetected or when the policy chooses
  // nothing; exceptions of the game, evaluator or policy pass through. num_nodes() counts the
  // node it created by the time it returns.
  bool playout(ThreadData<M>& tld) { return playout(tld, nullptr); }

  // The playout itself. With an unbounded node limit nothing needs the count of playouts in
  // progress, so no sentinel touches the shared counter; and when `uncounted` is given, the
  // nodes this playout creates are added to it instead of to num_nodes, for the caller to add
  // once (a worker of a parallel run does so when it stops). Either way a single-threaded
  // sequence of playouts performs the same steps on the tree.
  bool playout(ThreadData<M>& tld, std::size_t* uncounted) {
    std::optional<IncreaseSentinel> sentinel;
    if (manager_.node_limit() != std::numeric_limits<std::size_t>::max()) {
      sentinel.emplace(num_nodes_);
      if (sentinel->num_nodes >= manager_.node_limit()) return false;
      uncounted = nullptr;  // the limit compares against nodes created by every thread so far
    }

    State state = root_state_;
    SmallVector<MoveInfo<M>*, 64> path;
    SmallVector<SearchNode<M>*, 64> node_path;
    SmallVector<typename M::Player, 64> players;
    bool did_we_create = false;
    SearchNode<M>* node = root_node_;
    std::optional<StateEvaluation> cycle_evaluation;
    const int64_t virtual_loss = manager_.virtual_loss();
    const uint64_t visits_before_expansion = manager_.visits_before_expansion();
    const std::size_t max_playout_length = manager_.max_playout_length();

    while (node->num_moves_ != 0 && path.size() < max_playout_length) {
      const SearchHandle<M> handle{node, &tld, &manager_};
      MoveInfo<M>& choice = choose(*node, handle);
      if (virtual_loss != 0) {
        choice.stats_.sum_evaluations.fetch_sub(virtual_loss, std::memory_order_relaxed);
      }
      if (const SearchNode<M>* next =
              MoveInfo<M>::node_of(choice.link_.load(std::memory_order_relaxed))) {
        // The next step reads the child: ask for its first lines now, so that their fetch
        // overlaps the move and the bookkeeping in between.
        const char* block = reinterpret_cast<const char*>(next);
        for (int line = 0; line < 4; ++line) __builtin_prefetch(block + 64 * line);
      }
      const uint64_t edge_visits = choice.stats_.visits.fetch_add(1, std::memory_order_relaxed) + 1;
      players.push_back(state.current_player());
      path.push_back(&choice);
      state.make_move(node->move_at(static_cast<std::size_t>(&choice - node->edges()), state));

      if constexpr (TableStoresNothing<M>) {
        // The edge's statistics are the node's, counted above; no node is reached twice, so
        // there is no cycle to look for. A descent that fails takes its visit back, as no
        // node counted it.
        Descent reached{nullptr, false};
        try {
          reached = descend(state, choice, *node, tld, uncounted);
        } catch (...) {
          choice.stats_.visits.fetch_sub(1, std::memory_order_relaxed);
          if (virtual_loss != 0) {
            choice.stats_.sum_evaluations.fetch_add(virtual_loss, std::memory_order_relaxed);
          }
          throw;
        }
        node = reached.node;
        did_we_create = reached.created;
        node_path.push_back(node);
        if (edge_visits <= visits_before_expansion) break;
      } else {
        auto [next, created] = descend(state, choice, *node, tld, uncounted);
        node = next;
        did_we_create = created;
        // A node made by this playout cannot be on its path already.
        // The check comes before the node is counted, so a panicking playout leaves no visit.
        if (!created && is_on_path(node_path, node)) cycle_evaluation = on_cycle(*node);

        node_path.push_back(node);
        if (virtual_loss != 0) {
          node->stats_.sum_evaluations.fetch_sub(virtual_loss, std::memory_order_relaxed);
        }
        const uint64_t visits = node->stats_.visits.fetch_add(1, std::memory_order_relaxed) + 1;
        if (cycle_evaluation) break;
        if (visits <= visits_before_expansion) break;
      }
    }

    const SearchHandle<M> handle{node, &tld, &manager_};
    if (cycle_evaluation) {
      finish_playout(path, node_path, players, *cycle_evaluation, handle);
    } else if (did_we_create) {
      finish_playout(path, node_path, players, node->evaln_, handle);
    } else {
      const StateEvaluation new_evaln = eval_.evaluate_existing_state(state, node->evaln_, handle);
      finish_playout(path, node_path, players, new_evaln, handle);
    }
    return true;
  }

  // Replaces every edge's statistics by its child's. The parallel run calls this after joining
  // its workers: during the run two threads' copies of one child can land out of order, so an
  // edge may keep the older figures; afterwards edges and children agree exactly.
  // With a table that stores nothing there is one pair for both: nothing to do.
  void sync_edge_statistics() {
    if constexpr (!TableStoresNothing<M>) {
      sync_subtree(root_node_);
      for (SearchNode<M>* node : orphaned_) sync_subtree(node);
    }
  }

  NodeHandle<M> root_node() const { return NodeHandle<M>(root_node_); }
  const State& root_state() const { return root_state_; }
  const Policy& tree_policy() const { return tree_policy_; }
  const Table& table() const { return table_; }
  const Eval& eval() const { return eval_; }
  const M& manager() const { return manager_; }

  // Nodes in the tree plus playouts in progress (1 after construction: the root).
  std::size_t num_nodes() const { return num_nodes_.load(std::memory_order_relaxed); }
  std::size_t transposition_table_hits() const {
    return transposition_table_hits_.load(std::memory_order_relaxed);
  }
  std::size_t delayed_transposition_table_hits() const {
    return delayed_transposition_table_hits_.load(std::memory_order_relaxed);
  }
  std::size_t expansion_contention_events() const {
    return expansion_contention_events_.load(std::memory_order_relaxed);
  }
  std::size_t num_orphaned() const {
    std::lock_guard<std::mutex> lock(orphaned_mutex_);
    return orphaned_.size();
  }

 private:
  template <MCTS>
  friend class MCTSManager;

  struct Descent {
    SearchNode<M>* node;
    bool created;
  };

  // moves = available_moves(); evaluate; one edge per move, paired with the move evaluations.
  SearchNode<M>* create_node(const State& state, const SearchHandle<M>* handle,
                             const NodeStats* stats) {
    using MoveEvaluation = typename M::MoveEvaluation;
    typename M::MoveList moves = state.available_moves();
    auto [move_evaluations, state_evaluation] = eval_.evaluate_new_state(state, moves, handle);
    if (move_evaluations.size() != std::ranges::size(moves)) {
      throw util::Failure("evaluator returned a move evaluation list of the wrong length");
    }
    if constexpr (!std::is_empty_v<MoveEvaluation>) {
      tree_policy_.validate_evaluations(std::span<const MoveEvaluation>(move_evaluations));
    }
    return SearchNode<M>::create(state, std::move(moves), std::move(move_evaluations),
                                 std::move(state_evaluation), stats);
  }

  MoveInfo<M>& choose(SearchNode<M>& node, const SearchHandle<M>& handle) const {
    MoveInfo<M>* const first = node.edges();
    MoveInfo<M>* const last = first + node.num_moves_;
    const MoveInfo<M>* chosen =
        tree_policy_.choose_child(std::span<const MoveInfo<M>>(first, last), handle);
    if (chosen == nullptr) throw util::Failure("the tree policy chose no move");
    if (std::less<>{}(chosen, first) || !std::less<>{}(chosen, last)) {
      throw util::Failure("the tree policy chose a move of another node");
    }
    return first[chosen - first];
  }

  // Follows `choice` from `current`, creating and publishing its child if it has none yet.
  // `state` has already been moved. Returns the node reached and whether this call created it;
  // a created node is counted in num_nodes, or in *uncounted when that is given.
  Descent descend(const State& state, MoveInfo<M>& choice, const SearchNode<M>& current,
                  ThreadData<M>& tld, std::size_t* uncounted) {
    using Edge = MoveInfo<M>;
    // Acquire pairs with the release of the compare-exchange that published the child.
    if (SearchNode<M>* child = Edge::node_of(choice.link_.load(std::memory_order_acquire))) {
      return {child, false};
    }
    const SearchHandle<M> handle{&current, &tld, &manager_};
    if (SearchNode<M>* stored = table_.lookup(state, handle)) {
      if constexpr (TableStoresNothing<M>) throw util::Failure(kSharingMessage);
      // The edge links to the stored node without owning it; its owner is elsewhere in the tree.
      transposition_table_hits_.fetch_add(1, std::memory_order_relaxed);
      std::uintptr_t expected = 0;
      if (!choice.link_.compare_exchange_strong(expected, Edge::link_of(stored),
                                                std::memory_order_release,
                                                std::memory_order_acquire)) {
        return {Edge::node_of(expected), false};
      }
      return {stored, false};
    }

    // Built completely before the compare-exchange, and kept off the shared tree until it wins.
    SearchNode<M>* created = create_node(state, &handle, &choice.stats_);
    std::uintptr_t expected = 0;
    // Release on success publishes the node's edges and evaluation to every acquire load of
    // `child`; acquire on failure makes the winner's node visible to this thread.
    if (!choice.link_.compare_exchange_strong(expected, Edge::link_of(created),
                                              std::memory_order_release,
                                              std::memory_order_acquire)) {
      expansion_contention_events_.fetch_add(1, std::memory_order_relaxed);
      SearchNode<M>::destroy(created);
      return {Edge::node_of(expected), false};
    }
    if (SearchNode<M>* existing = table_.insert(state, created, handle)) {
      if constexpr (TableStoresNothing<M>) {
        // The node is published already: it stays, owned, and the playout fails.
        choice.link_.store(Edge::link_of(created) | Edge::kOwned, std::memory_order_release);
        throw util::Failure(kSharingMessage);
      }
      // The table already held a node for this state: continue from it. Another thread may
      // have followed the edge into `created` meanwhile, so it lives on, orphaned, until the
      // tree is released.
      std::lock_guard<std::mutex> lock(orphaned_mutex_);
      orphaned_.push_back(created);
      choice.link_.store(Edge::link_of(existing), std::memory_order_release);
      delayed_transposition_table_hits_.fetch_add(1, std::memory_order_relaxed);
      return {existing, false};
    }
    // Only this thread writes the link once its compare-exchange won. The store is a release
    // like the compare-exchange, since a reader may acquire the node through either value.
    choice.link_.store(Edge::link_of(created) | Edge::kOwned, std::memory_order_release);
    if (uncounted != nullptr) {
      ++*uncounted;
    } else {
      num_nodes_.fetch_add(1, std::memory_order_relaxed);
    }
    return {created, true};
  }

  // Adds the nodes a worker created without counting them (see playout).
  void count_nodes(std::size_t created) {
    if (created != 0) num_nodes_.fetch_add(created, std::memory_order_relaxed);
  }

  static bool is_on_path(const SmallVector<SearchNode<M>*, 64>& node_path,
                         const SearchNode<M>* node) {
    for (const SearchNode<M>* seen : node_path) {
      if (seen == node) return true;
    }
    return false;
  }

  // The evaluation to back up when a playout closes a cycle at `node`; none to go on.
  std::optional<StateEvaluation> on_cycle(const SearchNode<M>& node) const {
    auto behaviour = manager_.cycle_behaviour();
    if (std::holds_alternative<PanicWhenCycleDetected>(behaviour)) {
      throw util::Failure(kCycleMessage);
    }
    if (std::holds_alternative<UseCurrentEvalWhenCycleDetected>(behaviour)) return node.evaln_;
    if (auto* carried = std::get_if<UseThisEvalWhenCycleDetected<StateEvaluation>>(&behaviour)) {
      return std::move(carried->evaluation);
    }
    return std::nullopt;
  }

  // Backpropagation, from the last step to the first: each node reached gets the evaluation's
  // value for the player who moved into it (and its virtual loss back); the edge that led there
  // then takes a copy of the node's statistics, visits first, each field on its own.
  void finish_playout(const SmallVector<MoveInfo<M>*, 64>& path,
                      const SmallVector<SearchNode<M>*, 64>& node_path,
                      const SmallVector<typename M::Player, 64>& players,
                      const StateEvaluation& evaluation, const SearchHandle<M>& handle) {
    const int64_t virtual_loss = manager_.virtual_loss();
    if constexpr (TableStoresNothing<M>) {
      // One pair per step, the edge's, which is its node's.
      for (std::size_t i = path.size(); i-- > 0;) {
        const int64_t value = eval_.interpret_evaluation_for_player(evaluation, players[i]);
        path[i]->stats_.sum_evaluations.fetch_add(value + virtual_loss, std::memory_order_relaxed);
      }
    } else {
      for (std::size_t i = path.size(); i-- > 0;) {
        const int64_t value = eval_.interpret_evaluation_for_player(evaluation, players[i]);
        NodeStats& node_stats = node_path[i]->stats_;
        NodeStats& edge_stats = path[i]->stats_;
        node_stats.sum_evaluations.fetch_add(value + virtual_loss, std::memory_order_relaxed);
        edge_stats.visits.store(node_stats.visits.load(std::memory_order_relaxed),
                                std::memory_order_relaxed);
        edge_stats.sum_evaluations.store(node_stats.sum_evaluations.load(std::memory_order_relaxed),
                                         std::memory_order_relaxed);
      }
    }
    manager_.on_backpropagation(evaluation, handle);
  }

  // Recursion depth is the tree's depth, at most max_playout_length + 1.
  static void release_subtree(SearchNode<M>* node) noexcept {
    for (MoveInfo<M>& edge : std::span<MoveInfo<M>>(node->edges(), node->num_moves_)) {
      SearchNode<M>* child = MoveInfo<M>::node_of(edge.link_.load(std::memory_order_relaxed));
      if (child != nullptr && edge.owned()) release_subtree(child);
    }
    SearchNode<M>::destroy(node);
  }

  static void sync_subtree(SearchNode<M>* node) {
    for (MoveInfo<M>& edge : std::span<MoveInfo<M>>(node->edges(), node->num_moves_)) {
      SearchNode<M>* child = MoveInfo<M>::node_of(edge.link_.load(std::memory_order_relaxed));
      if (child == nullptr) continue;
      edge.stats_.visits.store(child->stats_.visits.load(std::memory_order_relaxed),
                               std::memory_order_relaxed);
      edge.stats_.sum_evaluations.store(
          child->stats_.sum_evaluations.load(std::memory_order_relaxed), std::memory_order_relaxed);
      if (edge.owned()) sync_subtree(child);
    }
  }

  static constexpr const char kSharingMessage[] =
      "a transposition table that stores nothing returned a node";

  M manager_;
  Eval eval_;
  Policy tree_policy_;
  Table table_;
  State root_state_;
  SearchNode<M>* root_node_ = nullptr;  // owned
  NodeStats root_stats_;                // the root's statistics when TableStoresNothing: 0

  // Written by playouts only when the node limit is bounded or outside parallel runs; kept off
  // the line of the rarely written counters all the same.
  alignas(64) std::atomic<std::size_t> num_nodes_{1};
  alignas(64) std::atomic<std::size_t> transposition_table_hits_{0};
  std::atomic<std::size_t> delayed_transposition_table_hits_{0};
  std::atomic<std::size_t> expansion_contention_events_{0};
  mutable std::mutex orphaned_mutex_;
  std::vector<SearchNode<M>*> orphaned_;  // owned, with their owned subtrees
};

}  // namespace vardelic::search
