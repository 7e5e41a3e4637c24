#include "players/mcts/policy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "search/mcts.h"
#include "testing/toy_game.h"

namespace vardelic::players::mcts {
namespace {

const MyPolicy kBase = UCTBase{16.970562748477143};
const MyPolicy kVariation2 = UCTVariation2{12.0, 0.001};
const MyPolicy kVariation3 = UCTVariation3{12.0, 0.001};
const MyPolicy kVariation4 = UCTVariation4{12.0};

struct ScoreCase {
  std::string name;
  MyPolicy policy;
  MoveCounts counts;
  double expected;
};

class PolicyScore : public ::testing::TestWithParam<ScoreCase> {};

TEST_P(PolicyScore, MatchesTheDocumentedValue) {
  const ScoreCase& c = GetParam();
  EXPECT_NEAR(c.policy.move_score(c.counts), c.expected, 1e-9);
}

// {visits, sum, N_i, leaf_node_count}
INSTANTIATE_TEST_SUITE_P(
    Documented, PolicyScore,
    ::testing::Values(ScoreCase{"BaseOneVisit", kBase, {1, 12, 4, 1}, 40.2578405404},
                      ScoreCase{"Variation2OneVisit", kVariation2, {1, 12, 4, 2}, 43.3906139766},
                      ScoreCase{"Variation3OneVisit", kVariation3, {1, 12, 4, 1}, 44.3206336134},
                      ScoreCase{"Variation4OneVisit", kVariation4, {1, 12, 4, 1}, 28.9610553392},
                      ScoreCase{"BaseFourVisits", kBase, {4, 20, 10, 1}, 23.2091255526},
                      ScoreCase{"Variation2FourVisits", kVariation2, {4, 20, 10, 1}, 20.8803474830},
                      ScoreCase{"Variation3FourVisits", kVariation3, {4, 20, 10, 1}, 18.1731040492},
                      ScoreCase{
                          "Variation4FourVisits", kVariation4, {4, 20, 10, 1}, 15.2937179839}),
    [](const ::testing::TestParamInfo<ScoreCase>& info) { return info.param.name; });

TEST(PolicyScore, UntriedMovesTieExactlyAtInfinity) {
  for (const MyPolicy& policy : {kBase, kVariation2, kVariation3, kVariation4}) {
    EXPECT_EQ(policy.move_score({0, 0, 1, 4}), INFINITY);
    EXPECT_EQ(policy.move_score({0, 0, 100, 1}), policy.move_score({0, 0, 7, 3}));
  }
}

TEST(PolicyFromNumber, FollowsThePolicyNumbers) {
  EXPECT_EQ(policy_from_number(std::nullopt), kBase);
  EXPECT_EQ(policy_from_number(0), kBase);
  EXPECT_EQ(policy_from_number(2), kVariation2);
  EXPECT_EQ(policy_from_number(3), kVariation3);
  EXPECT_EQ(policy_from_number(4), kVariation4);
  for (int number : {1, 5, 7, 128, 255}) {
    EXPECT_FALSE(policy_from_number(static_cast<uint8_t>(number)).has_value()) << number;
  }
  EXPECT_EQ(std::get<UCTBase>(kBase.variant()).exploration_constant, 12.0 * std::sqrt(2.0));
}

// The toy counting game searched with MyPolicy.
struct PolicyToyMCTS : testing::ToyConfig<testing::ToyEmptyTable> {
  using Policy = MyPolicy;
};

using Manager = search::MCTSManager<PolicyToyMCTS>;

Manager toy_manager(std::vector<int> increments, const MyPolicy& policy) {
  testing::CountingState state;
  state.steps_left = 1;
  state.increments = std::move(increments);
  return Manager(state, {}, {}, policy, {});
}

// How often choose_child picks each root move over many calls with one thread's generator.
std::vector<int> choice_counts(const Manager& manager, int trials) {
  search::ThreadData<PolicyToyMCTS> tld;
  const auto moves = manager.root_node().moves();
  const search::SearchHandle<PolicyToyMCTS> handle{manager.root_node().get(), &tld,
                                                   &manager.tree().manager()};
  std::vector<int> counts(moves.size(), 0);
  for (int i = 0; i < trials; ++i) {
    const auto* chosen = manager.tree().tree_policy().choose_child(moves, handle);
    EXPECT_NE(chosen, nullptr);
    ++counts[chosen - moves.data()];
  }
  return counts;
}

TEST(MyPolicy, UntriedMovesAreChosenUniformlyAndEachOnceFirst) {
  for (const MyPolicy& policy : {kBase, kVariation2, kVariation3, kVariation4}) {
    Manager manager = toy_manager({0, 1, 2}, policy);
    for (int count : choice_counts(manager, 30000)) EXPECT_NEAR(count, 10000, 5 * 82);
    manager.playout_n_parallel(3, 1);
    for (const auto& move : manager.root_node().moves()) EXPECT_EQ(move.visits(), 1u);
  }
}

TEST(MyPolicy, EqualFiniteScoresAreChosenHalfTheTime) {
  Manager manager = toy_manager({1, 1}, kBase);
  manager.playout_n_parallel(2, 1);
  for (const auto& move : manager.root_node().moves()) {
    ASSERT_EQ(move.visits(), 1u);
    ASSERT_EQ(move.sum_rewards(), 1);
  }
  for (int count : choice_counts(manager, 20000)) EXPECT_NEAR(count, 10000, 5 * 71);
}

}  // namespace
}  // namespace vardelic::players::mcts
