#include "players/mcts/search_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "game/action.h"
#include "game/state.h"
#include "players/mcts/policy.h"

namespace vardelic::players::mcts {
using namespace game;  // the tests build game values throughout

namespace {

constexpr Card card(CardSuit suit, CardValue value) { return Card{suit, value}; }

template <std::size_t N, bool H>
GameResult evaluate(const State<N>& state) {
  return MyEvaluator<N>{}
      .template evaluate_new_state<MyMCTS<N, H>>(state, state.get_action_space(), nullptr)
      .second;
}

TEST(MyEvaluator, LosingYieldAsTheOnlyActionLosesAtTheLevel) {
  State<1> state = State<1>::create(3);
  state.players[0].hand = Hand{};
  state.hand_refills_left = 0;
  state.level = 5;
  ASSERT_EQ(state.get_action_space(), std::vector<Action>{Action::yield()});
  EXPECT_EQ((evaluate<1, false>(state)), GameResult::Lost(5));
  EXPECT_EQ((evaluate<1, true>(state)), GameResult::Lost(5));
}

template <std::size_t N>
void expect_empty_castle_rewards_twelve() {
  for (uint64_t seed = 0; seed < 100; ++seed) {
    State<N> state = State<N>::create(seed);
    state.table.castle_deck.clear();
    state.level = 12;
    const GameResult result = evaluate<N, true>(state);
    EXPECT_EQ(result_value(result), 12) << "seed " << seed;
    if constexpr (N > 1) {
      EXPECT_TRUE(result.won()) << "one yield cannot end a game of " << N;
    }
  }
}

TEST(MyEvaluator, EmptyCastleDeckRewardsTwelve) {
  expect_empty_castle_rewards_twelve<1>();
  expect_empty_castle_rewards_twelve<2>();
  expect_empty_castle_rewards_twelve<4>();
}

// A two-player state owing a discard of `amount` from `hand`.
State<2> discard_state(std::vector<Card> hand, uint8_t amount) {
  State<2> state = State<2>::create(11);
  state.players[0].hand = Hand::from_range(hand);
  state.action_type = ActionType::discard(amount);
  return state;
}

bool holds_diamond(const Action& action) {
  return std::any_of(action.cards().begin(), action.cards().end(),
                     [](Card c) { return c.suit == CardSuit::Diamonds; });
}

TEST(RolloutActions, HeuristicsAvoidDiamondDiscardsWheneverAnotherExists) {
  const Card d5 = card(CardSuit::Diamonds, CardValue::Five);
  const Card s5 = card(CardSuit::Spades, CardValue::Five);
  const Card d3 = card(CardSuit::Diamonds, CardValue::Three);
  std::vector<Action> actions;

  // Covering discards: [♦5], [♠5], [♦5, ♠5]; only [♠5] keeps the Diamond.
  const State<2> mixed = discard_state({d5, s5}, 5);
  rollout_actions<true>(mixed, actions);
  EXPECT_EQ(actions, std::vector<Action>{Action::discard(std::vector<Card>{s5})});
  rollout_actions<false>(mixed, actions);
  EXPECT_EQ(actions, mixed.get_action_space());
  EXPECT_EQ(actions.size(), 3u);

  // Every covering discard holds a Diamond: all of them stay.
  const State<2> diamonds = discard_state({d5, d3}, 5);
  rollout_actions<true>(diamonds, actions);
  EXPECT_EQ(actions, diamonds.get_action_space());
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_TRUE(std::all_of(actions.begin(), actions.end(), holds_diamond));

  // A rollout from either state runs to an end with any of them.
  for (int i = 0; i < 20; ++i) {
    EXPECT_LE(result_value(evaluate<2, true>(mixed)), 12);
    EXPECT_LE(result_value(evaluate<2, true>(diamonds)), 12);
  }
}

TEST(MyEvaluator, SoloDiscardThatNothingCoversLosesWithoutAnAction) {
  State<1> state = State<1>::create(5);
  state.players[0].hand =
      Hand::from_range(std::vector<Card>{card(CardSuit::Spades, CardValue::Two)});
  state.action_type = ActionType::discard(20);
  state.hand_refills_left = 0;
  state.level = 3;
  ASSERT_TRUE(state.get_action_space().empty());
  EXPECT_EQ((evaluate<1, false>(state)), GameResult::Lost(3));
}

TEST(MyEvaluator, StateMarkedAsEndedGivesTheMarkOrTheEndingActionsResult) {
  // Naming the next player never ends the game: the marked result comes back.
  State<2> naming = State<2>::create(1);
  naming.action_type = ActionType::jester();
  naming.has_ended = GameResult::Won();
  EXPECT_EQ((evaluate<2, false>(naming)), GameResult::Won());

  // The only action is a losing yield: its own result wins over the mark.
  State<1> yielding = State<1>::create(1);
  yielding.players[0].hand = Hand{};
  yielding.hand_refills_left = 0;
  yielding.level = 4;
  yielding.has_ended = GameResult::Won();
  EXPECT_EQ((evaluate<1, false>(yielding)), GameResult::Lost(4));
}

TEST(MyEvaluator, InterpretationIgnoresThePlayer) {
  const MyEvaluator<2> eval;
  const State<2> state = State<2>::create(0);
  for (const Player& player : state.players) {
    EXPECT_EQ(eval.interpret_evaluation_for_player(GameResult::Won(), player), 12);
    EXPECT_EQ(eval.interpret_evaluation_for_player(GameResult::Lost(0), player), 0);
    EXPECT_EQ(eval.interpret_evaluation_for_player(GameResult::Lost(7), player), 7);
  }
}

TEST(MakeMove, EndingActionKeepsThePositionAndMarksTheResult) {
  State<1> state = State<1>::create(9);
  const State<1> before = state;
  const std::vector<Action> moves = state.available_moves();
  state.make_move(Action::yield());  // solo: every yield ends the game
  ASSERT_EQ(state.has_ended, GameResult::Lost(0));
  state.has_ended.reset();
  EXPECT_EQ(state, before);
  state.has_ended = GameResult::Lost(0);
  EXPECT_EQ(state.available_moves(), moves);
}

template <std::size_t N, bool H>
void search_fresh_game(uint64_t seed) {
  const State<N> state = State<N>::create(seed);
  MyManager<N, H> manager = make_manager<N, H>(state, *policy_from_number(std::nullopt));
  manager.playout_n_parallel(300, 2);
  uint64_t visits = 0;
  int64_t reward = 0;
  std::vector<Action> moves;
  for (const auto& move : manager.root_node().moves()) {
    moves.push_back(manager.root_node().move_of(move, state));
    visits += move.visits();
    reward += move.sum_rewards();
    if (auto child = move.child()) {
      EXPECT_EQ(child->visits(), move.visits());
    }
  }
  EXPECT_EQ(moves, state.get_action_space()) << "N=" << N;
  EXPECT_EQ(visits, 300u) << "N=" << N;
  EXPECT_GE(reward, 0);
  EXPECT_LE(reward, 12 * 300);
  EXPECT_LE(manager.tree().num_nodes(), 301u) << "each playout creates at most one node";
}

TEST(MyMCTS, SearchesFreshGamesOfEveryConfiguration) {
  search_fresh_game<1, false>(1);
  search_fresh_game<1, true>(2);
  search_fresh_game<2, false>(3);
  search_fresh_game<2, true>(4);
  search_fresh_game<3, false>(5);
  search_fresh_game<3, true>(6);
  search_fresh_game<4, false>(7);
  search_fresh_game<4, true>(8);
}

// Every edge of a searched tree holds a code that decodes to the move the state lists at its
// position, reached by playing the decoded moves down from the root.
template <class M>
void expect_edges_decode(const search::SearchNode<M>& node, const typename M::State& state,
                         std::size_t& nodes) {
  ++nodes;
  const std::vector<Action> listed = state.available_moves();
  ASSERT_EQ(node.moves().size(), listed.size());
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const auto& edge = node.moves()[i];
    ASSERT_EQ(node.move_of(edge, state), listed[i]) << "edge " << i;
    if (auto child = edge.child()) {
      typename M::State next = state;
      next.make_move(listed[i]);
      expect_edges_decode(*child->get(), next, nodes);
    }
  }
}

template <std::size_t N, bool H>
void search_and_decode(uint64_t seed) {
  SCOPED_TRACE("N=" + std::to_string(N) + " H=" + std::to_string(H));
  const State<N> state = State<N>::create(seed);
  MyManager<N, H> manager = make_manager<N, H>(state, *policy_from_number(std::nullopt));
  manager.playout_n_parallel(2000, 1);
  std::size_t nodes = 0;
  expect_edges_decode(*manager.root_node().get(), state, nodes);
  EXPECT_EQ(nodes, manager.tree().num_nodes());
}

TEST(MyMCTS, CompactEdgesDecodeToTheListedMoves) {
  static_assert(sizeof(search::MoveInfo<MyMCTS<2, true>>) == 24, "codes sit beside the edges");
  search_and_decode<1, true>(21);
  search_and_decode<2, false>(22);
  search_and_decode<3, true>(23);
  search_and_decode<4, false>(24);
}

}  // namespace
}  // namespace vardelic::players::mcts
