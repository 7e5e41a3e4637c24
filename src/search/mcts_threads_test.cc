// Multi-threaded runs of the engine; labelled "threads" so a ThreadSanitizer build runs them.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "search/mcts.h"
#include "testing/toy_game.h"
#include "util/failure.h"

namespace vardelic::search {
namespace {

using testing::CountedNodeData;
using testing::CountingState;
using testing::game;
using testing::make_manager;
using testing::ToyMCTS;

uint64_t root_visits(const MCTSManager<ToyMCTS>& manager) {
  uint64_t total = 0;
  for (const auto& edge : manager.root_node().moves()) total += edge.visits();
  return total;
}

class ParallelRun : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ParallelRun, ExactlyNPlayoutsAndEdgesEqualChildren) {
  const std::size_t threads = GetParam();
  const int64_t live_before = CountedNodeData::live().load();
  {
    testing::ToyEvaluator eval;
    auto manager = make_manager<ToyMCTS>(game(6), {}, eval);
    manager.playout_n_parallel(4000, threads);
    EXPECT_EQ(root_visits(manager), 4000u);
    manager.playout_n_parallel(1000, threads);  // a second run adds to the same tree
    EXPECT_EQ(root_visits(manager), 5000u);
    // Each playout ends in one evaluation, plus the root's own, plus the work of every lost
    // expansion.
    EXPECT_EQ(eval.hooks->new_states.load() + eval.hooks->existing_states.load(),
              5001u + manager.tree().expansion_contention_events());

    std::size_t nodes = 0;
    testing::for_each_node(*manager.root_node().get(), [&](const SearchNode<ToyMCTS>& node) {
      ++nodes;
      for (const auto& edge : node.moves()) {
        auto child = edge.child();
        if (!child) continue;
        EXPECT_TRUE(edge.owned());
        EXPECT_EQ(edge.visits(), child->visits());
        EXPECT_EQ(edge.sum_rewards(), child->sum_rewards());
      }
    });
    EXPECT_EQ(nodes, manager.tree().num_nodes());
    EXPECT_EQ(manager.tree().num_nodes() - 1,
              eval.hooks->new_states.load() - 1 - manager.tree().expansion_contention_events())
        << "every lost expansion was evaluated and then released";
    EXPECT_EQ(CountedNodeData::live().load() - live_before, static_cast<int64_t>(nodes));
  }
  EXPECT_EQ(CountedNodeData::live().load(), live_before);
}

INSTANTIATE_TEST_SUITE_P(Threads, ParallelRun, ::testing::Values(1, 2, 8));

TEST(ParallelRun, RacingExpansionsPublishOneNode) {
  // Depth one and a single move: both playouts take the same edge, and the barrier makes both
  // finish evaluating the new node before either publishes it.
  auto barrier = std::make_shared<std::barrier<>>(2);
  testing::ToyEvaluator eval;
  eval.hooks->on_new_state = [barrier] { barrier->arrive_and_wait(); };
  const int64_t live_before = CountedNodeData::live().load();
  auto manager = make_manager<ToyMCTS>(game(1, {1}), {}, eval);
  manager.playout_n_parallel(2, 2);

  EXPECT_EQ(manager.tree().expansion_contention_events(), 1u);
  EXPECT_EQ(manager.tree().num_nodes(), 2u);
  EXPECT_EQ(CountedNodeData::live().load() - live_before, 2) << "the losing node was released";
  const auto& edge = manager.root_node().moves()[0];
  ASSERT_TRUE(edge.child().has_value());
  EXPECT_TRUE(edge.owned());
  // Both playouts went on through the published node.
  EXPECT_EQ(edge.child()->visits(), 2u);
  EXPECT_EQ(edge.visits(), 2u);
  EXPECT_EQ(eval.hooks->existing_states.load(), 1u) << "the loser re-evaluated the winner's node";
}

TEST(ParallelRun, WorkerFailureReachesTheCallerAfterAllWorkersStopped) {
  testing::ToyEvaluator eval;
  auto active = std::make_shared<std::atomic<int>>(0);
  auto calls = std::make_shared<std::atomic<int>>(0);
  eval.hooks->on_existing_state = [active, calls] {
    active->fetch_add(1);
    const int call = calls->fetch_add(1) + 1;
    active->fetch_sub(1);
    if (call == 50) throw std::runtime_error("rollout failed");
  };
  auto manager = make_manager<ToyMCTS>(game(2, {1}), {}, eval);
  try {
    manager.playout_n_parallel(1000000, 4);
    FAIL() << "expected the worker's exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "rollout failed");
  }
  EXPECT_EQ(active->load(), 0);
  // The other workers were told to stop: far fewer than a million playouts ran.
  const int after = calls->load();
  EXPECT_LT(after, 100000);
  EXPECT_LT(root_visits(manager), 100000u);
}

TEST(ParallelRun, ThreadThatCannotStartFailsTheRunAfterJoiningTheOthers) {
  auto manager = make_manager<ToyMCTS>(game(3));
  int started = 0;
  auto third_fails = [&started](const auto& work) {
    if (++started == 3) {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    return std::thread(work);
  };
  try {
    manager.playout_n_parallel(100000, 4, third_fails);
    FAIL() << "expected a failure";
  } catch (const util::Failure& failure) {
    EXPECT_EQ(std::string(failure.what()).rfind("failed to start a search thread: ", 0), 0u)
        << failure.what();
  }
  EXPECT_EQ(started, 3);
  EXPECT_LE(root_visits(manager), 100000u);

  // The same manager runs normally once threads start again.
  const uint64_t before = root_visits(manager);
  manager.playout_n_parallel(100, 2);
  EXPECT_EQ(root_visits(manager), before + 100);
}

TEST(ParallelRun, StartsNoMoreWorkersThanPlayouts) {
  auto manager = make_manager<ToyMCTS>(game(3));
  int started = 0;
  auto counting = [&started](const auto& work) {
    ++started;
    return StartThread{}(work);
  };
  manager.playout_n_parallel(3, std::numeric_limits<std::size_t>::max(), counting);
  EXPECT_EQ(started, 3);
  EXPECT_EQ(root_visits(manager), 3u);
}

}  // namespace
}  // namespace vardelic::search
