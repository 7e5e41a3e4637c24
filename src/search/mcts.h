#pragma once

// Game-independent Monte-Carlo tree search, run by several threads on one lock-free tree.
//
// A configuration type M (concept MCTS) names every type the engine works with and answers the
// tuning questions; the engine sees the game only through it:
//
//   M::State            game state (concept GameState): current_player, available_moves, make_move
//   M::Eval             evaluator (concept Evaluator): rollouts or any other leaf evaluation
//   M::Policy           tree policy (concept TreePolicy): picks the edge to follow at a node
//   M::Table            transposition table (concept TranspositionTable)
//   M::NodeData         per-node data, M::ThreadExtra per-thread data (search::Empty for none)
//   M::StateEvaluation  what the evaluator says of a state, kept in each node
//   M::MoveEvaluation   what the evaluator says of a move, kept in each edge
//   M::Player, M::Move, M::MoveList
//
// A configuration may also keep its moves in a compact form relative to the node's state
// (concept CompactMoves): it names M::MoveCode and the static M::encode_move / M::decode_move.
//
// Tree layout. The tree owns the root; every other node is owned by the one edge whose `owned`
// flag is set (or by the orphaned list). Each node is a single allocation holding the node and,
// right behind it, its edges (and, for compact moves, their codes after the last edge), so
// creating a node costs one allocation:
//
//   SearchTree ── root ──> [ SearchNode | MoveInfo 0 | MoveInfo 1 | MoveInfo 2 | codes ]
//                                            │ child (owned)          │ child (owned)
//                                            v                        v
//                                [ SearchNode | MoveInfo 0 ]   [ SearchNode ]  (terminal: no moves)
//
// Nodes are only ever added while the tree exists, so a pointer read from `child` stays valid for
// the whole search; there is no ABA problem and no hazard pointer.

#include <algorithm>
#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <ranges>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "search/policy_rng.h"
#include "search/small_vector.h"
#include "util/failure.h"

namespace vardelic::search {

// The per-node data, per-thread data or move evaluation of a configuration that needs none.
struct Empty {};

// The move evaluations of an empty evaluation type: only their number, so that a node of a
// configuration without move evaluations allocates nothing for them.
template <class E>
class EmptyEvaluationList {
 public:
  static_assert(std::is_empty_v<E> && std::is_default_constructible_v<E>);
  EmptyEvaluationList() = default;
  explicit EmptyEvaluationList(std::size_t size) : size_(size) {}
  std::size_t size() const { return size_; }
  E operator[](std::size_t /*index*/) const { return E{}; }

 private:
  std::size_t size_ = 0;
};

// What an evaluator returns for a new state's moves, one per move in order: a std::vector,
// or for an empty evaluation type an EmptyEvaluationList.
template <class E>
using MoveEvaluationList =
    std::conditional_t<std::is_empty_v<E>, EmptyEvaluationList<E>, std::vector<E>>;

inline constexpr const char kCycleMessage[] =
    "cycle detected! you should do one of the following:\n- make states acyclic\n- remove "
    "transposition table\n- change cycle_behaviour()";

// What a playout does when it reaches a node already on its own path (only possible with a
// transposition table that shares nodes between paths).
struct Ignore {};
// Ends the playout at the repeated node and backs up that node's stored evaluation.
struct UseCurrentEvalWhenCycleDetected {};
// Fails the playout with kCycleMessage.
struct PanicWhenCycleDetected {};
// Ends the playout at the repeated node and backs up the carried evaluation.
template <class E>
struct UseThisEvalWhenCycleDetected {
  E evaluation;
};
template <class E>
using CycleBehaviour = std::variant<Ignore, UseCurrentEvalWhenCycleDetected, PanicWhenCycleDetected,
                                    UseThisEvalWhenCycleDetected<E>>;

template <class M>
class SearchNode;
template <class M>
class SearchTree;
template <class M>
struct ThreadData;

// Visits through a node or edge and the sum of the values backed up into it. Every access is a
// relaxed atomic: selection tolerates stale and torn (visits, sum) pairs, and a finished run's
// figures are read after the workers were joined, which orders them.
struct NodeStats {
  std::atomic<uint64_t> visits{0};
  std::atomic<int64_t> sum_evaluations{0};
};

// What the policy, the evaluator and the table receive: the node being worked on (the parent,
// for an evaluation of a new node), the calling thread's data and the configuration.
template <class M>
struct SearchHandle {
  const SearchNode<M>* node;
  ThreadData<M>* tld;
  const M* manager;

  ThreadData<M>& thread_data() const { return *tld; }
};

// Configuration interface. Defaults for the two optional answers come from MCTSDefaults.
template <class M>
concept MCTS = std::copy_constructible<M> && requires(const M& m) {
  typename M::State;
  typename M::Eval;
  typename M::Policy;
  typename M::Table;
  typename M::NodeData;
  typename M::ThreadExtra;
  typename M::StateEvaluation;
  typename M::MoveEvaluation;
  typename M::Player;
  typename M::Move;
  typename M::MoveList;
  { m.virtual_loss() } -> std::convertible_to<int64_t>;
  { m.visits_before_expansion() } -> std::convertible_to<uint64_t>;
  { m.node_limit() } -> std::convertible_to<std::size_t>;
  { m.max_playout_length() } -> std::convertible_to<std::size_t>;
  { m.cycle_behaviour() } -> std::convertible_to<CycleBehaviour<typename M::StateEvaluation>>;
};

// Optional base of a configuration: no virtual loss, nothing done on backpropagation.
struct MCTSDefaults {
  int64_t virtual_loss() const { return 0; }
  template <class E, class H>
  void on_backpropagation(const E& /*evaluation*/, const H& /*handle*/) const {}
};

// Game-state interface: a copyable value changed in place by make_move. An empty move list
// marks a terminal state; the engine creates a node's edges in the list's order.
template <class S, class M>
concept GameState = std::copy_constructible<S> && std::ranges::sized_range<typename M::MoveList> &&
                    requires(S& s, const S& cs, const typename M::Move& move) {
                      { cs.current_player() } -> std::convertible_to<typename M::Player>;
                      { cs.available_moves() } -> std::convertible_to<typename M::MoveList>;
                      s.make_move(move);
                    };

// Evaluator interface. evaluate_new_state gets a null handle for the root and returns one move
// evaluation per move, in order (MoveEvaluationList), plus the state's evaluation. Called by
// every worker at once.
template <class E, class M>
concept Evaluator =
    requires(const E& e, const typename M::State& state, const typename M::MoveList& moves,
             const SearchHandle<M>* maybe_handle, const SearchHandle<M>& handle,
             const typename M::StateEvaluation& evaluation, const typename M::Player& player) {
      {
        e.evaluate_new_state(state, moves, maybe_handle)
      } -> std::same_as<
          std::pair<MoveEvaluationList<typename M::MoveEvaluation>, typename M::StateEvaluation>>;
      {
        e.evaluate_existing_state(state, evaluation, handle)
      } -> std::convertible_to<typename M::StateEvaluation>;
      { e.interpret_evaluation_for_player(evaluation, player) } -> std::convertible_to<int64_t>;
    };

template <class M>
class MoveInfo;

// Tree-policy interface: choose_child returns a pointer into `moves` (never empty when the
// engine calls it); nullptr makes the playout fail. Called by every worker at once.
// validate_evaluations sees a new node's move evaluations; an empty evaluation type has
// nothing to validate, so the engine does not call it then.
template <class P, class M>
concept TreePolicy =
    requires(const P& p, std::span<const MoveInfo<M>> moves, const SearchHandle<M>& handle,
             std::span<const typename M::MoveEvaluation> evaluations) {
      { p.choose_child(moves, handle) } -> std::convertible_to<const MoveInfo<M>*>;
      p.validate_evaluations(evaluations);
    };

// Transposition-table interface: lookup gives a node stored for an equal state (or nullptr);
// insert stores the node, or returns the node already stored for an equal state (or nullptr).
// Called by every worker at once, so a real table synchronises itself.
template <class T, class M>
concept TranspositionTable = requires(T& t, const typename M::State& state, SearchNode<M>* node,
                                      const SearchHandle<M>& handle) {
  { t.lookup(state, handle) } -> std::convertible_to<SearchNode<M>*>;
  { t.insert(state, node, handle) } -> std::convertible_to<SearchNode<M>*>;
};

// A table that declares `static constexpr bool kStoresNothing = true` answers none to every
// lookup and insert. Then no node is shared: each has exactly one parent edge (the root none),
// and a node's statistics are its parent edge's, kept there once (see SearchNode).
template <class M>
concept TableStoresNothing = requires { requires M::Table::kStoresNothing; };

// The table of a configuration that shares no nodes: stores nothing and says so.
struct NoTable {
  static constexpr bool kStoresNothing = true;
  template <class M>
  SearchNode<M>* lookup(const typename M::State& /*state*/,
                        const SearchHandle<M>& /*handle*/) const {
    return nullptr;
  }
  template <class M>
  SearchNode<M>* insert(const typename M::State& /*state*/, SearchNode<M>* /*node*/,
                        const SearchHandle<M>& /*handle*/) const {
    return nullptr;
  }
};

// Optional compact storage of moves: a configuration naming M::MoveCode keeps, beside a node's
// edges, M::encode_move(state, move) for each move listed at the node's state, and the move is
// M::decode_move(state, code) against that same state, which must give the move listed. An
// edge then holds no move and MoveInfo has no get_move(); NodeHandle::move_of gives the move.
template <class M>
concept CompactMoves = std::is_trivially_copyable_v<typename M::MoveCode> &&
                       requires(const typename M::State& state, const typename M::Move& move,
                                const typename M::MoveCode& code) {
                         { M::encode_move(state, move) } -> std::same_as<typename M::MoveCode>;
                         { M::decode_move(state, code) } -> std::convertible_to<typename M::Move>;
                       };

// What a node keeps behind its last edge for each move: a code, or nothing (a byte, unused).
template <class M>
struct CompactCode {
  using type = std::byte;
};
template <class M>
  requires CompactMoves<M>
struct CompactCode<M> {
  using type = typename M::MoveCode;
};

// What an edge stores of its move: the move, or nothing when its code sits beside the edges (a
// type of its own, so that it can share its address with an Empty move evaluation).
struct MoveBesideEdges {};
template <class M>
struct StoredMove {
  using type = typename M::Move;
};
template <class M>
  requires CompactMoves<M>
struct StoredMove<M> {
  using type = MoveBesideEdges;
};

// One per worker thread. Every new ThreadData starts its tie-break generator from the same words.
template <class M>
struct ThreadData {
  PolicyRng policy_data;
  typename M::ThreadExtra extra_data{};
};

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

// Read access to a node after (or, with care, during) a search.
template <class M>
class NodeHandle {
 public:
  explicit NodeHandle(const SearchNode<M>* node) : node_(node) {}

  // The node's edges in the order the game state listed its moves.
  std::span<const MoveInfo<M>> moves() const { return node_->moves(); }
  uint64_t visits() const { return node_->stats().visits.load(std::memory_order_relaxed); }
  int64_t sum_rewards() const {
    return node_->stats().sum_evaluations.load(std::memory_order_relaxed);
  }
  const typename M::StateEvaluation& evaln() const { return node_->evaln(); }
  const typename M::NodeData& data() const { return node_->data(); }
  const SearchNode<M>* get() const { return node_; }
  // The move of one of this node's edges. `state` is the node's state (the root's is the tree's
  // root_state()): a compact move is decoded against it; a move stored in the edge ignores it.
  // Throws util::Failure for an edge of another node.
  typename M::Move move_of(const MoveInfo<M>& edge, const typename M::State& state) const {
    return node_->move_of(edge, state);
  }

  friend bool operator==(const NodeHandle&, const NodeHandle&) = default;

 private:
  const SearchNode<M>* node_;
};

// An edge: a move of its node (unless CompactMoves keeps its code beside the edges), the
// evaluator's view of it, the child once expanded, statistics. The child pointer carries the
// `owned` flag in its lowest bit (nodes are allocated with at least 2-byte alignment), so that
// an edge of a compact move is 24 bytes.
template <class M>
class MoveInfo {
 public:
  using Stored = typename StoredMove<M>::type;

  MoveInfo(Stored mov, typename M::MoveEvaluation move_evaluation)
      : mov_(std::move(mov)), move_evaluation_(std::move(move_evaluation)) {}
  MoveInfo(const MoveInfo&) = delete;
  MoveInfo& operator=(const MoveInfo&) = delete;

  const typename M::Move& get_move() const
    requires(!CompactMoves<M>)
  {
    return mov_;
  }
  const typename M::MoveEvaluation& move_evaluation() const { return move_evaluation_; }
  uint64_t visits() const { return stats_.visits.load(std::memory_order_relaxed); }
  // The edge's sum_evaluations: the sum of the values backed up through it.
  int64_t sum_rewards() const { return stats_.sum_evaluations.load(std::memory_order_relaxed); }
  const NodeStats& stats() const { return stats_; }
  // The expanded child, or none. Acquire pairs with the release of the publishing
  // compare-exchange (and of the store that then sets `owned`), so the child's edges and
  // evaluation are visible to the reader.
  std::optional<NodeHandle<M>> child() const {
    const SearchNode<M>* node = node_of(link_.load(std::memory_order_acquire));
    if (node == nullptr) return std::nullopt;
    return NodeHandle<M>(node);
  }
  // Whether this edge owns (and will release) its child. Relaxed: read only after the workers
  // that set it were joined.
  bool owned() const { return (link_.load(std::memory_order_relaxed) & kOwned) != 0; }

 private:
  friend class SearchTree<M>;
  static constexpr std::uintptr_t kOwned = 1;

  static SearchNode<M>* node_of(std::uintptr_t link) {
    return reinterpret_cast<SearchNode<M>*>(link & ~kOwned);
  }
  static std::uintptr_t link_of(SearchNode<M>* node) {
    return reinterpret_cast<std::uintptr_t>(node);
  }

  NodeStats stats_;
  std::atomic<std::uintptr_t> link_{0};  // the child, or 0; bit 0: owned
  // Potentially overlapping, so a small move and an empty evaluation take no padding of their own.
  [[no_unique_address]] Stored mov_;
  [[no_unique_address]] typename M::MoveEvaluation move_evaluation_;
};

// A node: its edges (fixed when the node is created, stored right behind it in the same
// allocation), per-node data, the evaluation of its state and statistics. Created and released
// only by SearchTree.
//
// With a table that stores nothing (TableStoresNothing) the node keeps no statistics of its own
// but points at its parent edge's, the root at the tree's, which stay 0: the edge's and the
// child's figures are then one pair, updated once per playout rather than once for each, and
// equal at every moment rather than once the run is over. With one thread they hold exactly
// the values the separate copies would.
template <class M>
class SearchNode {
 public:
  SearchNode(const SearchNode&) = delete;
  SearchNode& operator=(const SearchNode&) = delete;

  std::span<const MoveInfo<M>> moves() const { return {edges(), num_moves_}; }
  const typename M::NodeData& data() const { return data_; }
  const typename M::StateEvaluation& evaln() const { return evaln_; }
  const NodeStats& stats() const {
    if constexpr (TableStoresNothing<M>) {
      return *stats_;
    } else {
      return stats_;
    }
  }
  // See NodeHandle::move_of.
  typename M::Move move_of(const MoveInfo<M>& edge, const typename M::State& state) const {
    const Edge* first = edges();
    if (std::less<>{}(&edge, first) || !std::less<>{}(&edge, first + num_moves_)) {
      throw util::Failure("the edge is not one of this node's");
    }
    return move_at(static_cast<std::size_t>(&edge - first), state);
  }

 private:
  friend class SearchTree<M>;
  using Edge = MoveInfo<M>;
  using Stats = std::conditional_t<TableStoresNothing<M>, const NodeStats*, NodeStats>;
  // What sits behind the last edge: one code per edge, or nothing.
  using Code = typename CompactCode<M>::type;
  static constexpr std::size_t kCodeSize = CompactMoves<M> ? sizeof(Code) : 0;

  static_assert(alignof(Edge) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
  static_assert(alignof(SearchNode*) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
  static_assert(alignof(Code) <= alignof(Edge));

  SearchNode(uint32_t num_moves, typename M::StateEvaluation evaln, const NodeStats* stats)
      : num_moves_(num_moves), evaln_(std::move(evaln)) {
    if constexpr (TableStoresNothing<M>) stats_ = stats;
  }
  ~SearchNode() { std::destroy(edges(), edges() + num_moves_); }

  // Offset of the edge array behind the node inside the node's allocation.
  static constexpr std::size_t edges_offset() {
    return (sizeof(SearchNode) + alignof(Edge) - 1) / alignof(Edge) * alignof(Edge);
  }
  Edge* edges() {
    return std::launder(
        reinterpret_cast<Edge*>(reinterpret_cast<std::byte*>(this) + edges_offset()));
  }
  const Edge* edges() const { return const_cast<SearchNode*>(this)->edges(); }
  // The codes of compact moves, right behind the edges (their alignment divides the edges').
  const Code* codes() const {
    return std::launder(reinterpret_cast<const Code*>(edges() + num_moves_));
  }
  static std::size_t allocation_size(std::size_t count) {
    return edges_offset() + count * (sizeof(Edge) + kCodeSize);
  }

  // The move of edge `index`, for a compact move decoded against the node's `state`.
  typename M::Move move_at(std::size_t index, const typename M::State& state) const {
    if constexpr (CompactMoves<M>) {
      return M::decode_move(state, codes()[index]);
    } else {
      return edges()[index].get_move();
    }
  }

  // `state`: the node's, which lists `moves`; `stats`: the parent edge's statistics (the tree's
  // for the root), unused unless TableStoresNothing.
  static SearchNode* create(const typename M::State& state, typename M::MoveList&& moves,
                            MoveEvaluationList<typename M::MoveEvaluation>&& move_evaluations,
                            typename M::StateEvaluation&& evaln, const NodeStats* stats) {
    const std::size_t count = std::ranges::size(moves);
    if (count > std::numeric_limits<uint32_t>::max()) {
      throw util::Failure("too many moves for one search node");
    }
    void* block = ::operator new(allocation_size(count));
    Edge* edges = reinterpret_cast<Edge*>(static_cast<std::byte*>(block) + edges_offset());
    std::size_t built = 0;
    try {
      for (auto& move : moves) {
        if constexpr (CompactMoves<M>) {
          // Codes are trivially copyable: nothing to destroy if a later step throws.
          std::construct_at(reinterpret_cast<Code*>(edges + count) + built,
                            M::encode_move(state, move));
          std::construct_at(edges + built, MoveBesideEdges{}, std::move(move_evaluations[built]));
        } else {
          std::construct_at(edges + built, std::move(move), std::move(move_evaluations[built]));
        }
        ++built;
      }
      return ::new (block) SearchNode(static_cast<uint32_t>(count), std::move(evaln), stats);
    } catch (...) {
      std::destroy(edges, edges + built);
      ::operator delete(block);
      throw;
    }
  }

  // Releases this node's allocation only; owned children are the tree's business.
  static void destroy(SearchNode* node) noexcept {
    node->~SearchNode();
    ::operator delete(static_cast<void*>(node));
  }

  Stats stats_{};
  uint32_t num_moves_;
  typename M::StateEvaluation evaln_;
  [[no_unique_address]] typename M::NodeData data_{};
};

// The tree of one search: the root node, the state it stands for, the configuration's policy,
// table and evaluator, and counters. playout() may be called by any number of threads at once;
// everything else is for the owning thread, or for reading once the playouts have stopped.
template <MCTS M>
class MCTSManager;

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

// Owns one search: builds the tree on a root state and runs playouts on worker threads.
template <MCTS M>
class MCTSManager {
 public:
  using State = typename M::State;
  // Starts a thread running the given function. Replaceable so that tests can simulate a thread
  // that cannot start (by throwing std::system_error, as std::thread does).
  using ThreadStarter = std::function<std::thread(std::function<void()>)>;

  MCTSManager(State root_state, M manager, typename M::Eval eval, typename M::Policy tree_policy,
              typename M::Table table)
      : search_tree_(std::make_unique<SearchTree<M>>(std::move(root_state), std::move(manager),
                                                     std::move(eval), std::move(tree_policy),
                                                     std::move(table))) {}

  SearchTree<M>& tree() { return *search_tree_; }
  const SearchTree<M>& tree() const { return *search_tree_; }
  NodeHandle<M> root_node() const { return search_tree_->root_node(); }
  bool print_on_playout_error() const { return print_on_playout_error_; }

  // One playout on the calling thread, with data kept for single-threaded use.
  bool playout() {
    if (!single_threaded_tld_) single_threaded_tld_.emplace();
    return search_tree_->playout(*single_threaded_tld_);
  }

  // Runs exactly n playouts (refused ones included) on num_threads new worker threads and
  // returns once all have been joined; the calling thread only waits. Each worker gets a fresh
  // ThreadData. n == 0 returns at once; num_threads == 0 otherwise throws util::Failure
  // "assertion failed: num_threads != 0". If a playout throws, the other workers stop after
  // their current playout and the first exception is rethrown here; if a thread cannot be
  // started, the started ones are stopped and joined and util::Failure is thrown.
  void playout_n_parallel(uint32_t n, std::size_t num_threads) {
    if (n == 0) return;
    if (num_threads == 0) throw util::Failure("assertion failed: num_threads != 0");
    // A worker past the n-th would find the counter spent at once: start none of those, so an
    // absurd thread count costs nothing.
    num_threads = std::min<std::size_t>(num_threads, n);

    SearchTree<M>& tree = *search_tree_;
    // Workers take playouts in batches, so that the shared counter is written once per batch
    // rather than once per playout; batches stay small against n / num_threads, so that no
    // worker is left with much to do alone at the end.
    const int64_t batch = std::clamp<int64_t>(n / (num_threads * 64), 1, 16);
    alignas(64) std::atomic<int64_t> counter{n};
    alignas(64) std::atomic<bool> stop{false};
    std::mutex error_mutex;
    std::exception_ptr first_error;
    auto work = [&tree, &counter, &stop, &error_mutex, &first_error, batch] {
      // Nodes this worker created, added to num_nodes once it stops (exceptions included), so
      // that playouts do not all write one shared counter.
      std::size_t created = 0;
      struct CountOnExit {
        SearchTree<M>& tree;
        std::size_t& created;
        ~CountOnExit() { tree.count_nodes(created); }
      } count_on_exit{tree, created};
      try {
        ThreadData<M> tld;
        // Relaxed: the counter publishes nothing; fetch_sub's atomicity alone hands out
        // exactly n playouts, min(batch, before) to each subtraction that finds `before`
        // positive. `stop` is a hint; the error it announces is read after join.
        while (!stop.load(std::memory_order_relaxed)) {
          const int64_t before = counter.fetch_sub(batch, std::memory_order_relaxed);
          if (before <= 0) break;
          for (int64_t i = std::min(batch, before); i > 0; --i) {
            if (stop.load(std::memory_order_relaxed)) break;
            tree.playout(tld, &created);
          }
        }
      } catch (...) {
        {
          std::lock_guard<std::mutex> lock(error_mutex);
          if (!first_error) first_error = std::current_exception();
        }
        stop.store(true, std::memory_order_relaxed);
      }
    };

    std::vector<std::thread> workers;
    workers.reserve(num_threads);
    auto stop_and_join = [&] {
      stop.store(true, std::memory_order_relaxed);
      for (std::thread& worker : workers) {
        if (worker.joinable()) worker.join();
      }
    };
    try {
      for (std::size_t i = 0; i < num_threads; ++i) {
        workers.push_back(thread_starter_ ? thread_starter_(work) : std::thread(work));
      }
    } catch (const std::system_error& error) {
      stop_and_join();
      throw util::Failure(std::string("failed to start a search thread: ") + error.what());
    } catch (...) {
      stop_and_join();
      throw;
    }
    for (std::thread& worker : workers) worker.join();
    if (first_error) std::rethrow_exception(first_error);
    if (num_threads > 1) tree.sync_edge_statistics();
  }

  void set_thread_starter(ThreadStarter starter) { thread_starter_ = std::move(starter); }

 private:
  std::unique_ptr<SearchTree<M>> search_tree_;
  std::optional<ThreadData<M>> single_threaded_tld_;
  bool print_on_playout_error_ = true;
  ThreadStarter thread_starter_;  // empty: std::thread
};

}  // namespace vardelic::search
