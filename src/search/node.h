#pragma once

// The node and edge layout of the search tree (drawn in search/mcts.h): a node is one
// allocation holding the node and, right behind it, its edges (MoveInfo), and for compact moves
// their codes after the last edge. NodeHandle reads a node; only SearchTree creates, links and
// releases nodes.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>

#include "search/config.h"
#include "util/failure.h"

namespace vardelic::search {

template <class M>
class SearchTree;

// Visits through a node or edge and the sum of the values backed up into it. Every access is a
// relaxed atomic: selection tolerates stale and torn (visits, sum) pairs, and a finished run's
// figures are read after the workers were joined, which orders them.
struct NodeStats {
  std::atomic<uint64_t> visits{0};
  std::atomic<int64_t> sum_evaluations{0};
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

}  // namespace vardelic::search
