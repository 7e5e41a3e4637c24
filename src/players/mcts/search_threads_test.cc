// Searches of real games by eight workers on one shared tree; labelled "threads" so the
// ThreadSanitizer build runs them. After a run the whole tree must add up exactly: every
// playout counted once, every edge equal to its child, every node holding the moves of the
// state its path leads to.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "game/action.h"
#include "game/state.h"
#include "players/mcts/policy.h"
#include "players/mcts/search_config.h"

namespace vardelic::players::mcts {
using namespace game;  // the tests build game values throughout

namespace {

constexpr std::size_t kThreads = 8;

struct TreeFigures {
  std::size_t nodes = 0;
  std::size_t terminal_nodes = 0;
  uint64_t terminal_visits = 0;
};

// Checks the subtree of `node`, reached by playing its path from the root onto `state`.
template <class M>
void check_subtree(const search::SearchNode<M>& node, const typename M::State& state, bool is_root,
                   TreeFigures& figures, const std::string& path) {
  ++figures.nodes;
  const uint64_t visits = node.stats().visits.load();
  const int64_t sum = node.stats().sum_evaluations.load();

  std::vector<Action> moves;
  for (const auto& edge : node.moves()) moves.push_back(node.move_of(edge, state));
  ASSERT_EQ(moves, state.available_moves()) << "node at " << path;

  uint64_t edge_visits = 0;
  int64_t edge_sum = 0;
  for (const auto& edge : node.moves()) {
    edge_visits += edge.visits();
    edge_sum += edge.sum_rewards();
    auto child = edge.child();
    if (!child) {
      EXPECT_EQ(edge.visits(), 0u) << path;
      continue;
    }
    ASSERT_TRUE(edge.owned()) << "an empty table shares no node: " << path;
    EXPECT_EQ(edge.visits(), child->visits()) << path;
    EXPECT_EQ(edge.sum_rewards(), child->sum_rewards()) << path;
    typename M::State next = state;
    next.make_move(node.move_of(edge, state));
    check_subtree(*child->get(), next, false, figures,
                  path + " " + std::to_string(&edge - node.moves().data()));
  }

  if (is_root) {
    EXPECT_EQ(visits, 0u) << "playouts start below the root";
    return;
  }
  EXPECT_GE(visits, 1u) << path;
  if (node.moves().empty()) {
    ++figures.terminal_nodes;
    figures.terminal_visits += visits;
    EXPECT_GE(sum, 0) << path;
    EXPECT_LE(sum, 12 * static_cast<int64_t>(visits)) << path;
    return;
  }
  // Exactly one playout stopped here (the one that made the visit count 1); every other one
  // went on through an edge and backed its value up through both.
  EXPECT_EQ(visits, 1 + edge_visits) << path;
  EXPECT_GE(sum - edge_sum, 0) << path;
  EXPECT_LE(sum - edge_sum, 12) << path;
}

template <std::size_t N, bool H>
void search_on_eight_threads(uint64_t seed, std::optional<uint8_t> policy_number) {
  SCOPED_TRACE("N=" + std::to_string(N) + " heuristics=" + std::to_string(H) +
               " policy=" + std::to_string(policy_number.value_or(0)));
  const State<N> state = State<N>::create(seed);
  const std::optional<MyPolicy> policy = policy_from_number(policy_number);
  ASSERT_TRUE(policy.has_value());
  MyManager<N, H> manager = make_manager<N, H>(state, *policy);

  uint64_t expected = 0;
  for (const uint32_t playouts : {1500u, 1u, 499u}) {
    manager.playout_n_parallel(playouts, kThreads);  // every run adds to the same tree
    expected += playouts;
    uint64_t root_visits = 0;
    for (const auto& edge : manager.root_node().moves()) root_visits += edge.visits();
    EXPECT_EQ(root_visits, expected) << "after a run of " << playouts;
  }

  TreeFigures figures;
  check_subtree(*manager.root_node().get(), state, true, figures, "root");
  EXPECT_EQ(figures.nodes, manager.tree().num_nodes());
  // Every playout either created one node or ended at a terminal one already there.
  EXPECT_EQ(figures.nodes - 1 + figures.terminal_visits - figures.terminal_nodes, expected);
  EXPECT_EQ(manager.tree().transposition_table_hits(), 0u);
  EXPECT_EQ(manager.tree().num_orphaned(), 0u);
}

TEST(SearchThreads, EightWorkersOnOneTreeAddUpExactly) {
  search_on_eight_threads<1, true>(11, std::nullopt);
  search_on_eight_threads<1, false>(12, 2);
  search_on_eight_threads<2, true>(13, 3);
  search_on_eight_threads<2, false>(14, 4);
  search_on_eight_threads<3, true>(15, 0);
  search_on_eight_threads<4, false>(16, 2);
}

TEST(SearchThreads, ManyMoreWorkersThanPlayouts) {
  // Most workers find the counter spent at once; the few playouts still land exactly.
  const State<2> state = State<2>::create(21);
  MyManager<2, true> manager = make_manager<2, true>(state, *policy_from_number(std::nullopt));
  manager.playout_n_parallel(3, 32);
  uint64_t root_visits = 0;
  for (const auto& edge : manager.root_node().moves()) root_visits += edge.visits();
  EXPECT_EQ(root_visits, 3u);
  EXPECT_EQ(manager.tree().num_nodes(), 4u) << "the root has enough moves for three new nodes";
}

}  // namespace
}  // namespace vardelic::players::mcts
