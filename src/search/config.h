#pragma once

// The configuration contract of the search engine: what a configuration type M names and
// answers, and the interfaces its game state, evaluator, tree policy and transposition table
// meet. The engine sees the game only through M:
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

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <ranges>
#include <span>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "search/policy_rng.h"

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

// Defined in node.h: the interfaces below name them, the engine alone builds them.
template <class M>
class SearchNode;
template <class M>
class MoveInfo;

// One per worker thread. Every new ThreadData starts its tie-break generator from the same words.
template <class M>
struct ThreadData {
  PolicyRng policy_data;
  typename M::ThreadExtra extra_data{};
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

}  // namespace vardelic::search
