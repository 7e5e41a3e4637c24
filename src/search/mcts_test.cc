#include "search/mcts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "testing/toy_game.h"
#include "util/failure.h"

namespace vardelic::search {
namespace {

using testing::CountedNodeData;
using testing::CountingState;
using testing::game;
using testing::make_manager;
using testing::ToyMCTS;
using testing::ToySharingMCTS;

// Every expanded edge agrees with its child, and the child's visits add up over its own edges
// within one (the visit that stopped there).
template <class M>
void expect_consistent(const SearchNode<M>& root) {
  testing::for_each_node(root, [](const SearchNode<M>& node) {
    for (const auto& edge : node.moves()) {
      auto child = edge.child();
      if (!child) {
        EXPECT_EQ(edge.visits(), 0u);
        continue;
      }
      EXPECT_EQ(edge.visits(), child->visits());
      EXPECT_EQ(edge.sum_rewards(), child->sum_rewards());
    }
  });
}

TEST(SearchTree, RootEdgesFollowTheMoveOrderAndStartEmpty) {
  auto manager = make_manager<ToyMCTS>(game(3, {2, 0, 1}));
  std::vector<int> moves;
  for (const auto& edge : manager.root_node().moves()) {
    moves.push_back(edge.get_move());
    EXPECT_EQ(edge.visits(), 0u);
    EXPECT_FALSE(edge.child().has_value());
  }
  EXPECT_EQ(moves, (std::vector<int>{2, 0, 1}));
  EXPECT_EQ(manager.tree().num_nodes(), 1u);
  EXPECT_EQ(manager.tree().expansion_contention_events(), 0u);
}

// move_of gives an edge's move through its node, and refuses an edge of another node.
TEST(SearchTree, MoveOfAnswersOnlyForTheNodesOwnEdges) {
  auto manager = make_manager<ToyMCTS>(game(3, {2, 0, 1}));
  manager.playout_n_parallel(20, 1);
  const auto root = manager.root_node();
  const auto& state = manager.tree().root_state();
  for (const auto& edge : root.moves()) EXPECT_EQ(root.move_of(edge, state), edge.get_move());
  const auto child = root.moves()[0].child();
  ASSERT_TRUE(child.has_value());
  ASSERT_FALSE(child->moves().empty());
  EXPECT_THROW(root.move_of(child->moves()[0], state), util::Failure);
  EXPECT_THROW(child->move_of(root.moves()[2], state), util::Failure);
}

TEST(SearchTree, FindsTheLargestIncrementAndKeepsEdgesEqualToChildren) {
  auto manager = make_manager<ToyMCTS>(game(3));
  manager.playout_n_parallel(3000, 1);
  const auto root = manager.root_node();
  uint64_t total = 0;
  const MoveInfo<ToyMCTS>* best = nullptr;
  for (const auto& edge : root.moves()) {
    total += edge.visits();
    if (best == nullptr || edge.visits() > best->visits()) best = &edge;
  }
  EXPECT_EQ(total, 3000u);
  EXPECT_EQ(best->get_move(), 2);
  EXPECT_EQ(root.visits(), 0u) << "the root's own statistics are never changed";
  expect_consistent(*root.get());

  // Every node but the root was created by one playout: the tree counts them all.
  std::size_t nodes = 0;
  testing::for_each_node(*root.get(), [&](const auto&) { ++nodes; });
  EXPECT_EQ(nodes, manager.tree().num_nodes());
}

TEST(SearchTree, RootWithoutMovesReevaluatesAndBacksUpNothing) {
  testing::ToyEvaluator eval;
  auto manager = make_manager<ToyMCTS>(game(0), {}, eval);
  EXPECT_TRUE(manager.playout());
  manager.playout_n_parallel(4, 1);
  EXPECT_EQ(eval.hooks->existing_states.load(), 5u);
  EXPECT_EQ(eval.hooks->new_states.load(), 1u) << "the root is evaluated once, when built";
  EXPECT_TRUE(manager.root_node().moves().empty());
  EXPECT_EQ(manager.tree().num_nodes(), 1u);
}

class ExpansionTest : public ::testing::TestWithParam<uint64_t> {};

TEST_P(ExpansionTest, PlayoutStopsAtANodeUntilItHasEnoughVisits) {
  ToyMCTS config;
  config.expansion_visits = GetParam();
  auto manager = make_manager<ToyMCTS>(game(10, {1}), config);
  const auto depth = [&] {
    int levels = 0;
    auto node = manager.root_node();
    while (auto child = node.moves()[0].child()) {
      node = *child;
      ++levels;
    }
    return levels;
  };
  for (uint64_t i = 0; i < GetParam(); ++i) {
    ASSERT_TRUE(manager.playout());
    EXPECT_EQ(depth(), 1);
  }
  ASSERT_TRUE(manager.playout());
  EXPECT_EQ(depth(), 2);
  EXPECT_EQ(manager.tree().num_nodes(), 3u);
}

INSTANTIATE_TEST_SUITE_P(VisitsBeforeExpansion, ExpansionTest, ::testing::Values(1, 3));

TEST(SearchTree, PathNeverExceedsMaxPlayoutLength) {
  for (std::size_t length : {0u, 1u, 2u, 70u}) {
    ToyMCTS config;
    config.playout_length = length;
    config.expansion_visits = 0;  // never stop early: only the length limit ends a descent
    testing::ToyEvaluator eval;
    auto manager = make_manager<ToyMCTS>(game(100, {1}), config, eval);
    manager.playout_n_parallel(5, 1);
    // A single-move chain: the tree is exactly as deep as the longest path.
    EXPECT_EQ(manager.tree().num_nodes(), 1 + length) << length;
    EXPECT_EQ(manager.root_node().moves()[0].visits(), length == 0 ? 0u : 5u) << length;
  }
}

TEST(SearchTree, NodeLimitRefusesPlayoutsThatStillCountTowardTheRun) {
  ToyMCTS config;
  config.limit = 3;
  auto manager = make_manager<ToyMCTS>(game(5, {1}), config);
  EXPECT_TRUE(manager.playout());
  EXPECT_TRUE(manager.playout());
  EXPECT_FALSE(manager.playout());
  EXPECT_EQ(manager.tree().num_nodes(), 3u) << "a refused playout leaves the counter as it was";
  manager.playout_n_parallel(10, 1);  // all ten refused, and the run still ends
  EXPECT_EQ(manager.root_node().moves()[0].visits(), 2u);
}

TEST(SearchTree, VirtualLossIsGivenBackInBackpropagation) {
  ToyMCTS config;
  config.loss = 5;
  testing::ToyEvaluator eval;
  auto manager = make_manager<ToyMCTS>(game(2, {1}), config, eval);
  manager.playout_n_parallel(3, 1);
  // Path values: playout 1 stops at depth 1 (total 1), 2 and 3 reach depth 2 (total 2).
  const auto& edge = manager.root_node().moves()[0];
  EXPECT_EQ(edge.visits(), 3u);
  EXPECT_EQ(edge.sum_rewards(), 1 + 2 + 2);
  expect_consistent(*manager.root_node().get());
}

// Where a table that stores nothing lets the engine keep one pair of statistics per edge, a
// thread's playouts must see and leave exactly the figures of the two copies.
struct OneCopyCase {
  int64_t virtual_loss;
  uint64_t expansion_visits;
  std::size_t playout_length;
};

void PrintTo(const OneCopyCase& c, std::ostream* out) {
  *out << "virtual loss " << c.virtual_loss << ", expansion after " << c.expansion_visits
       << ", length " << c.playout_length;
}

class OneCopyTest : public ::testing::TestWithParam<OneCopyCase> {};

template <class A, class B>
void expect_same_tree(const SearchNode<A>& a, const SearchNode<B>& b, const std::string& path) {
  ASSERT_EQ(a.moves().size(), b.moves().size()) << path;
  EXPECT_EQ(a.stats().visits.load(), b.stats().visits.load()) << path;
  EXPECT_EQ(a.stats().sum_evaluations.load(), b.stats().sum_evaluations.load()) << path;
  for (std::size_t i = 0; i < a.moves().size(); ++i) {
    const auto& ea = a.moves()[i];
    const auto& eb = b.moves()[i];
    EXPECT_EQ(ea.visits(), eb.visits()) << path << " " << i;
    EXPECT_EQ(ea.sum_rewards(), eb.sum_rewards()) << path << " " << i;
    ASSERT_EQ(ea.child().has_value(), eb.child().has_value()) << path << " " << i;
    if (ea.child())
      expect_same_tree(*ea.child()->get(), *eb.child()->get(), path + " " + std::to_string(i));
  }
}

TEST_P(OneCopyTest, OneThreadBuildsTheTreeOfTwoCopies) {
  const OneCopyCase c = GetParam();
  ToyMCTS two;
  testing::ToyOneCopyMCTS one;
  two.loss = one.loss = c.virtual_loss;
  two.expansion_visits = one.expansion_visits = c.expansion_visits;
  two.playout_length = one.playout_length = c.playout_length;
  // Increments with equal and unequal values, so that the policy sees ties and differences.
  auto a = make_manager<ToyMCTS>(game(6, {1, 0, 2, 1}), two);
  auto b = make_manager<testing::ToyOneCopyMCTS>(game(6, {1, 0, 2, 1}), one);
  for (int round = 0; round < 8; ++round) {
    if (round % 2 == 0) {
      for (int i = 0; i < 25; ++i) ASSERT_EQ(a.playout(), b.playout());
    } else {
      a.playout_n_parallel(100, 1);
      b.playout_n_parallel(100, 1);
    }
    expect_same_tree(*a.root_node().get(), *b.root_node().get(), "root");
    if (HasFailure()) return;
  }
  EXPECT_EQ(a.tree().num_nodes(), b.tree().num_nodes());
}

INSTANTIATE_TEST_SUITE_P(Configurations, OneCopyTest,
                         ::testing::Values(OneCopyCase{0, 1, 1000}, OneCopyCase{3, 1, 1000},
                                           OneCopyCase{0, 3, 1000}, OneCopyCase{5, 2, 3}));

TEST(SearchTree, OneCopyDescentThatFailsTakesItsVisitBack) {
  testing::ToyEvaluator eval;
  bool fail = true;
  eval.hooks->on_new_state = [&fail] {
    if (fail) throw std::runtime_error("evaluation failed");
  };
  testing::ToyOneCopyMCTS config;
  config.loss = 4;
  auto manager = make_manager<testing::ToyOneCopyMCTS>(game(4), config, eval);
  EXPECT_THROW(manager.playout(), std::runtime_error);
  for (const auto& edge : manager.root_node().moves()) {
    EXPECT_EQ(edge.visits(), 0u);
    EXPECT_EQ(edge.sum_rewards(), 0);
  }
  fail = false;
  manager.playout_n_parallel(10, 1);
  uint64_t visits = 0;
  for (const auto& edge : manager.root_node().moves()) visits += edge.visits();
  EXPECT_EQ(visits, 10u);
}

TEST(SearchTree, ReleasingTheTreeReleasesEveryNode) {
  const int64_t before = CountedNodeData::live().load();
  {
    auto manager = make_manager<ToyMCTS>(game(4));
    manager.playout_n_parallel(500, 1);
    EXPECT_EQ(CountedNodeData::live().load() - before,
              static_cast<int64_t>(manager.tree().num_nodes()));
  }
  EXPECT_EQ(CountedNodeData::live().load(), before);
}

TEST(SearchTree, TranspositionHitsShareNodesWithoutOwningThem) {
  const int64_t before = CountedNodeData::live().load();
  {
    auto manager = make_manager<ToySharingMCTS>(game(3, {1, 2}));
    manager.playout_n_parallel(200, 1);
    const auto& tree = manager.tree();
    EXPECT_GT(tree.transposition_table_hits(), 0u);
    EXPECT_EQ(tree.delayed_transposition_table_hits(), 0u);
    // Shared edges do not own their child, so each node is owned exactly once.
    std::size_t owned = 0;
    std::size_t linked = 0;
    testing::for_each_node(*manager.root_node().get(), [&](const auto& node) {
      for (const auto& edge : node.moves()) {
        if (!edge.child()) continue;
        ++linked;
        if (edge.owned()) ++owned;
      }
    });
    EXPECT_EQ(linked - owned, tree.transposition_table_hits());
    EXPECT_EQ(static_cast<int64_t>(owned + 1), CountedNodeData::live().load() - before);
  }
  EXPECT_EQ(CountedNodeData::live().load(), before);
}

TEST(SearchTree, LateTranspositionOrphansTheNewNodeAndGoesOnFromTheStoredOne) {
  const int64_t before = CountedNodeData::live().load();
  {
    testing::ToySharingTable table;
    table.use_lookup = false;
    auto manager = make_manager<ToySharingMCTS>(game(3, {1, 2}), {}, {}, table);
    manager.playout_n_parallel(200, 1);
    const auto& tree = manager.tree();
    EXPECT_GT(tree.delayed_transposition_table_hits(), 0u);
    EXPECT_EQ(tree.num_orphaned(), tree.delayed_transposition_table_hits());
  }
  EXPECT_EQ(CountedNodeData::live().load(), before) << "orphaned nodes are released too";
}

TEST(SearchTree, CycleBehaviours) {
  CountingState state = game(3, {1});
  state.allow_pass = true;
  {
    auto manager = make_manager<ToySharingMCTS>(state);
    try {
      manager.playout_n_parallel(50, 1);
      FAIL() << "expected the cycle failure";
    } catch (const util::Failure& failure) {
      EXPECT_STREQ(failure.what(),
                   "cycle detected! you should do one of the following:\n- make states "
                   "acyclic\n- remove transposition table\n- change cycle_behaviour()");
    }
  }
  // Ignore goes on past the repeated node, so every playout still ends in an evaluation (plus
  // the root's); the other two end a cycling playout with the evaluation they name.
  for (auto behaviour : {CycleBehaviour<int64_t>(Ignore{}),
                         CycleBehaviour<int64_t>(UseCurrentEvalWhenCycleDetected{}),
                         CycleBehaviour<int64_t>(UseThisEvalWhenCycleDetected<int64_t>{7})}) {
    ToySharingMCTS config;
    config.on_cycle = behaviour;
    config.playout_length = 20;
    testing::ToyEvaluator eval;
    auto manager = make_manager<ToySharingMCTS>(state, config, eval);
    EXPECT_NO_THROW(manager.playout_n_parallel(50, 1)) << behaviour.index();
    const uint64_t evaluations = eval.hooks->new_states + eval.hooks->existing_states;
    if (std::holds_alternative<Ignore>(behaviour)) {
      EXPECT_EQ(evaluations, 51u);
    } else {
      EXPECT_LT(evaluations, 51u) << behaviour.index();
    }
  }
}

TEST(PlayoutNParallel, ZeroPlayoutsIgnoreTheThreadCountButZeroThreadsFail) {
  auto manager = make_manager<ToyMCTS>(game(2));
  EXPECT_NO_THROW(manager.playout_n_parallel(0, 0));
  try {
    manager.playout_n_parallel(5, 0);
    FAIL() << "expected a failure";
  } catch (const util::Failure& failure) {
    EXPECT_STREQ(failure.what(), "assertion failed: num_threads != 0");
  }
  EXPECT_EQ(manager.tree().num_nodes(), 1u);
}

struct NoMovePolicy {
  template <class M>
  const MoveInfo<M>* choose_child(std::span<const MoveInfo<M>>, const SearchHandle<M>&) const {
    return nullptr;
  }
  void validate_evaluations(std::span<const Empty>) const {}
};

struct NoMoveMCTS : ToyMCTS {
  using Policy = NoMovePolicy;
};

TEST(PlayoutNParallel, PolicyChoosingNothingFailsTheRun) {
  MCTSManager<NoMoveMCTS> manager(game(2), {}, {}, {}, {});
  EXPECT_THROW(manager.playout_n_parallel(3, 1), util::Failure);
}

}  // namespace
}  // namespace vardelic::search
