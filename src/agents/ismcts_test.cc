#include "agents/ismcts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <tuple>
#include <unordered_set>
#include <utility>
#include <vector>

#include "agents/heuristics.h"
#include "agents/ismcts_player.h"
#include "game/information.h"
#include "game/state.h"
#include "testing/game_testing.h"

namespace vardelic::agents {
namespace {

using game::Action;
using game::State;
using testing::card_vector;
using testing::hand;

// A state `steps` uniformly random moves into the game dealt from `seed` (fewer if it ends).
template <std::size_t N>
State<N> midgame(std::uint64_t seed, std::size_t steps) {
  State<N> state = State<N>::create(seed);
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(seed ^ 0xABCDEF);
  for (std::size_t i = 0; i < steps; ++i) {
    const std::vector<Action> actions = state.get_action_space();
    if (actions.empty()) break;
    State<N> next = state;
    if (next.step(actions[rng.gen_below(actions.size())])) break;
    state = next;
  }
  return state;
}

ISMCTSSettings budget(std::uint64_t iterations, std::uint64_t seed) {
  ISMCTSSettings s;
  s.iterations = iterations;
  s.seed = seed;
  return s;
}

// The player's last decision returned `chosen`, which is listed in `state`; the ranking lists
// every distinct legal action once, most visited first, with `visits` visits in all.
template <std::size_t N>
void expect_sound_ranking(const ISMCTSPlayer& player, const State<N>& state, const Action& chosen,
                          std::uint64_t visits) {
  const std::vector<Action> space = state.get_action_space();
  ASSERT_NE(std::find(space.begin(), space.end(), chosen), space.end());
  const auto& ranked = player.ranked_actions();
  ASSERT_FALSE(ranked.empty());
  EXPECT_EQ(ranked.front().action, chosen);
  std::unordered_set<Action> seen;
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < ranked.size(); ++i) {
    EXPECT_TRUE(seen.insert(ranked[i].action).second) << "ranked twice";
    if (i > 0) {
      EXPECT_LE(ranked[i].visits, ranked[i - 1].visits);
    }
    if (ranked[i].visits == 0) {
      EXPECT_TRUE(std::isnan(ranked[i].avg_reward));
    } else {
      EXPECT_GE(ranked[i].avg_reward, 0.0);
      EXPECT_LE(ranked[i].avg_reward, 12.0);
    }
    total += ranked[i].visits;
  }
  EXPECT_EQ(seen, std::unordered_set<Action>(space.begin(), space.end()));
  if (space.size() > 1) {
    EXPECT_EQ(total, visits);
  }
}

// Everything hidden from the player to move dealt again; the discard pile stays known.
template <std::size_t N>
State<N> redealt(const State<N>& state, std::uint64_t seed) {
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(seed);
  return game::deal_hidden(state, state.has_turn.id, rng);
}

class AgentsByPlayers : public ::testing::TestWithParam<int> {
 protected:
  template <typename Body>
  void for_each_state(Body body) {
    for (std::uint64_t seed : {1u, 2u, 3u}) {
      for (std::size_t steps : {0u, 7u, 23u}) {
        switch (GetParam()) {
          case 1:
            body(midgame<1>(seed, steps));
            break;
          case 2:
            body(midgame<2>(seed, steps));
            break;
          case 3:
            body(midgame<3>(seed, steps));
            break;
          case 4:
            body(midgame<4>(seed, steps));
            break;
        }
      }
    }
  }
};

TEST_P(AgentsByPlayers, DecisionsAreLegalAndRankingsComplete) {
  for_each_state([](const auto& state) {
    for (PartnerModel partners : {PartnerModel::Search, PartnerModel::Heuristic}) {
      for (bool widening : {true, false}) {
        for (std::optional<unsigned> horizon : {std::optional<unsigned>{}, std::optional(1u)}) {
          ISMCTSSettings s = budget(120, 5);
          s.widening = widening;
          s.reuse = false;
          s.partners = partners;
          s.horizon = horizon;
          ISMCTSPlayer player(s);
          const Action chosen = player.play(state);
          expect_sound_ranking(player, state, chosen, 120);
          EXPECT_EQ(player.last_decision().reused_visits, 0u);
        }
      }
    }
  });
}

TEST_P(AgentsByPlayers, DecisionIgnoresHowHiddenCardsLie) {
  for_each_state([](const auto& state) {
    for (auto [redeal, partners, branch] :
         {std::tuple{Redeal::Hidden, PartnerModel::Search, Branch::None},
          std::tuple{Redeal::Pooled, PartnerModel::Search, Branch::None},
          std::tuple{Redeal::Hidden, PartnerModel::Heuristic, Branch::None},
          std::tuple{Redeal::Hidden, PartnerModel::Search, Branch::Enemy}}) {
      ISMCTSSettings s = budget(150, 11);
      s.redeal = redeal;
      s.partners = partners;
      s.branch = branch;
      ISMCTSPlayer a(s);
      const Action chosen = a.play(state);
      for (std::uint64_t seed : {99u, 100u}) {
        const auto other = redealt(state, seed);
        ASSERT_EQ(other.table.discard_pile, state.table.discard_pile);
        ISMCTSPlayer b(s);
        EXPECT_EQ(b.play(other), chosen);
        ASSERT_EQ(a.ranked_actions().size(), b.ranked_actions().size());
        for (std::size_t i = 0; i < a.ranked_actions().size(); ++i) {
          EXPECT_EQ(a.ranked_actions()[i].action, b.ranked_actions()[i].action);
          EXPECT_EQ(a.ranked_actions()[i].visits, b.ranked_actions()[i].visits);
          if (a.ranked_actions()[i].visits > 0) {
            EXPECT_EQ(a.ranked_actions()[i].avg_reward, b.ranked_actions()[i].avg_reward);
          }
        }
      }
    }
  });
}

ISMCTSSettings clairvoyant(std::uint64_t iterations, std::uint64_t seed) {
  ISMCTSSettings s = budget(iterations, seed);
  s.redeal = Redeal::None;
  return s;
}

TEST_P(AgentsByPlayers, ClairvoyantDecisionsAreLegalAndRepeat) {
  for_each_state([](const auto& state) {
    ISMCTSPlayer a(clairvoyant(120, 5));
    ISMCTSPlayer b(clairvoyant(120, 5));
    const Action chosen = a.play(state);
    expect_sound_ranking(a, state, chosen, 120);
    EXPECT_EQ(b.play(state), chosen);
    for (std::size_t i = 0; i < a.ranked_actions().size(); ++i) {
      EXPECT_EQ(a.ranked_actions()[i].visits, b.ranked_actions()[i].visits);
    }
  });
}

// The honest player ranks and chooses alike in every re-deal of a state (above); the
// clairvoyant one must not, or it would not be seeing the cards: over the states and two
// re-deals each, most rankings and some choices differ.
TEST_P(AgentsByPlayers, ClairvoyantSeesTheHiddenCards) {
  std::size_t compared = 0;
  std::size_t differ = 0;
  std::size_t chose_apart = 0;
  for_each_state([&](const auto& state) {
    if (state.get_action_space().size() < 2) return;
    ISMCTSPlayer a(clairvoyant(300, 7));
    const Action chosen = a.play(state);
    for (std::uint64_t seed : {99u, 100u}) {
      ISMCTSPlayer b(clairvoyant(300, 7));
      chose_apart += b.play(redealt(state, seed)) != chosen;
      ++compared;
      bool same = true;
      for (std::size_t i = 0; i < a.ranked_actions().size(); ++i) {
        same = same && a.ranked_actions()[i].action == b.ranked_actions()[i].action &&
               a.ranked_actions()[i].visits == b.ranked_actions()[i].visits;
      }
      differ += !same;
    }
  });
  ASSERT_GT(compared, 0u);
  EXPECT_GT(differ * 2, compared) << differ << " of " << compared << " re-deals ranked apart";
  EXPECT_GT(chose_apart, 0u) << "no re-deal changed the clairvoyant's choice";
}

// The hands-only yardstick ranks alike whatever the order of the decks and the rules' seed,
// and not whatever the other hands hold.
TEST_P(AgentsByPlayers, HandsYardstickSeesTheHandsOnly) {
  std::size_t hands_apart = 0;
  for_each_state([&](const auto& state) {
    ISMCTSSettings s = budget(200, 13);
    s.redeal = Redeal::Decks;
    ISMCTSPlayer a(s);
    const Action chosen = a.play(state);
    auto ranking = [](const ISMCTSPlayer& p) {
      std::vector<std::pair<Action, std::uint64_t>> r;
      for (const auto& entry : p.ranked_actions()) r.emplace_back(entry.action, entry.visits);
      return r;
    };
    for (std::uint64_t seed : {99u, 100u}) {
      auto decks = state;  // the castle order below, the seed and the tavern deck dealt again
      const auto other = redealt(state, seed);
      decks.table.castle_deck = other.table.castle_deck;
      decks.rng_seed = other.rng_seed;
      util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(seed);
      util::shuffle(
          std::span<game::Card>(decks.table.tavern_deck.begin(), decks.table.tavern_deck.end()),
          rng);
      ISMCTSPlayer b(s);
      EXPECT_EQ(b.play(decks), chosen);
      EXPECT_EQ(ranking(b), ranking(a));
      ISMCTSPlayer c(s);
      c.play(redealt(state, seed));
      hands_apart += ranking(c) != ranking(a);
    }
  });
  if (GetParam() > 1) {
    EXPECT_GT(hands_apart, 0u) << "no deal of the other hands changed the ranking";
  }
}

TEST_P(AgentsByPlayers, RolloutPolicyOnlyPlaysListedActions) {
  for_each_state([](const auto& start) {
    util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(8);
    std::vector<Action> buffer;
    for (double epsilon : {0.0, 0.5}) {
      auto state = start;
      for (int step = 0; step < 400; ++step) {
        const std::vector<Action> space = state.get_action_space();
        Action action = Action::yield();
        ASSERT_EQ(rollout_action(state, epsilon, rng, buffer, action), !space.empty());
        if (space.empty()) break;
        ASSERT_NE(std::find(space.begin(), space.end(), action), space.end())
            << action_text(action);
        if (state.step(action)) break;
      }
    }
  });
}

TEST_P(AgentsByPlayers, BatchScoresAndGreedyRolloutAgreeWithTheScoreOfEachAction) {
  // action_scores works out once what the attacks of a state share; action_score, one action
  // at a time, is the reference. The greedy rollout outside discards is its best non-refill
  // action, the first of equals, unless the refill scores higher or nothing survives. So for
  // either set of weights, which must judge some actions apart.
  std::size_t told_apart = 0;
  for_each_state([&told_apart](const auto& start) {
    for (const HeuristicWeights* weights : {&kFirstWeights, &kTunedWeights}) {
      util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(4);
      std::vector<Action> buffer;
      std::vector<double> scores;
      std::vector<double> other;
      auto state = start;
      for (int step = 0; step < 300; ++step) {
        const std::vector<Action> space = state.get_action_space();
        if (space.empty()) break;
        action_scores(state, std::span<const Action>(space), scores, *weights);
        ASSERT_EQ(scores.size(), space.size());
        action_scores(state, std::span<const Action>(space), other,
                      weights == &kFirstWeights ? kTunedWeights : kFirstWeights);
        told_apart += scores != other;
        std::size_t best = space.size(), refill = space.size();
        for (std::size_t i = 0; i < space.size(); ++i) {
          ASSERT_EQ(scores[i], action_score(state, space[i], *weights)) << action_text(space[i]);
          if (space[i].kind() == game::ActionKind::RefillHand) {
            refill = i;
          } else if (best == space.size() || scores[i] > scores[best]) {
            best = i;
          }
        }
        if (state.action_type.kind != game::ActionType::Kind::Discard) {
          if (refill < space.size() && (best == space.size() || scores[best] <= kLosing / 2 ||
                                        scores[refill] > scores[best])) {
            best = refill;
          }
          Action greedy = Action::yield();
          ASSERT_TRUE(rollout_action(state, 0.0, rng, buffer, greedy, *weights));
          EXPECT_EQ(greedy, space[best]) << action_text(greedy);
        }
        // Onwards by the epsilon policy, to reach kills, jesters and refills.
        Action next = Action::yield();
        ASSERT_TRUE(rollout_action(state, 0.3, rng, buffer, next, *weights));
        if (state.step(next)) break;
      }
    }
  });
  EXPECT_GT(told_apart, 0u);
}

TEST_P(AgentsByPlayers, TreeKeepsOneEdgePerActionAtTheRoot) {
  for_each_state([](const auto& state) {
    constexpr std::size_t N = std::decay_t<decltype(state)>::kPlayers;
    if (state.get_action_space().size() < 2) return;
    ISMCTSSettings settings;
    ISMCTSTree<N> tree(settings);
    util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(6);
    ASSERT_EQ(tree.search(state, rng, 600, std::nullopt), 600u);
    const std::vector<RootStats> roots = tree.root_stats();
    std::uint64_t visits = 0;
    for (std::size_t i = 0; i < roots.size(); ++i) {
      if (i > 0) {
        EXPECT_LT(action_key(roots[i - 1].action), action_key(roots[i].action));
      }
      visits += roots[i].visits;
    }
    EXPECT_EQ(visits, 600u);  // every iteration passes one root edge
  });
}

// `memory` says what the true deck holds: its top cards in order, each group as a multiset.
template <std::size_t N>
::testing::AssertionResult remembers_truly(const TavernMemory& memory, const State<N>& state) {
  const game::Pile& deck = state.table.tavern_deck;
  if (memory.size() > deck.size()) return ::testing::AssertionFailure() << "more than the deck";
  for (std::size_t k = 0; k < memory.top.size(); ++k) {
    if (deck[deck.size() - memory.top.size() + k] != memory.top[k]) {
      return ::testing::AssertionFailure() << "top card " << k << " differs";
    }
  }
  std::size_t lowest = 0;  // the groups lie bottom up from the last one
  for (auto group = memory.bottom.rbegin(); group != memory.bottom.rend(); ++group) {
    std::vector<game::Card> lying(deck.begin() + lowest, deck.begin() + lowest + group->size());
    std::vector<game::Card> remembered = *group;
    auto kind = [](game::Card a, game::Card b) { return game::card_kind(a) < game::card_kind(b); };
    std::sort(lying.begin(), lying.end(), kind);
    std::sort(remembered.begin(), remembered.end(), kind);
    if (lying != remembered) return ::testing::AssertionFailure() << "a bottom group differs";
    lowest += group->size();
  }
  return ::testing::AssertionSuccess();
}

// Every seat follows a game as ISMCTSPlayer does (its own steps one at a time, the others' moves
// between its turns together); returns how often a seat remembered something, checked against
// the true deck after every step. `check` also gets each non-empty memory with its state.
template <std::size_t N, typename Check>
std::size_t follow_a_game(std::uint64_t seed, Check check) {
  State<N> state = State<N>::create(seed);
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(seed);
  std::array<TavernMemory, N> memory;
  std::array<std::optional<game::SeatView<N>>, N> last;
  std::vector<Action> buffer;
  std::size_t remembered = 0;
  for (;;) {
    const std::size_t seat = state.has_turn.id;
    const game::SeatView<N> before = game::seat_view(state, seat);
    if (last[seat] && *last[seat] != before) memory[seat].follow(*last[seat], before, false);
    EXPECT_TRUE(remembers_truly(memory[seat], state)) << "seed " << seed;
    if (!memory[seat].empty()) {
      ++remembered;
      check(memory[seat], state);
    }
    Action action = Action::yield();
    if (!rollout_action(state, 0.2, rng, buffer, action)) break;
    if (state.step(action)) break;
    last[seat] = game::seat_view(state, seat);
    memory[seat].follow(before, *last[seat], true);
  }
  return remembered;
}

TEST_P(AgentsByPlayers, TavernMemoryFollowsTheTrueDeck) {
  std::size_t remembered = 0;
  for (std::uint64_t seed = 0; seed < 40; ++seed) {
    auto none = [](const TavernMemory&, const auto&) {};
    switch (GetParam()) {
      case 1:
        remembered += follow_a_game<1>(seed, none);
        break;
      case 2:
        remembered += follow_a_game<2>(seed, none);
        break;
      case 3:
        remembered += follow_a_game<3>(seed, none);
        break;
      case 4:
        remembered += follow_a_game<4>(seed, none);
        break;
    }
  }
  EXPECT_GT(remembered, 20u) << "the games should leave something to remember";
}

// The hidden cards as a sorted multiset: the other hands and the tavern deck.
template <std::size_t N>
std::vector<std::size_t> hidden_kinds(const State<N>& state) {
  std::vector<std::size_t> kinds;
  for (std::size_t i = 0; i < N; ++i) {
    if (i == state.has_turn.id) continue;
    for (game::Card card : state.players[i].hand) kinds.push_back(game::card_kind(card));
  }
  for (game::Card card : state.table.tavern_deck) kinds.push_back(game::card_kind(card));
  std::sort(kinds.begin(), kinds.end());
  return kinds;
}

TEST(TavernMemory, ReDealsKeepTheRememberedCardsWhereTheyLie) {
  std::size_t arranged = 0;
  auto check = [&arranged](const TavernMemory& memory, const auto& state) {
    const std::size_t seat = state.has_turn.id;
    for (bool hands_hidden : {true, false}) {
      util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(arranged);
      auto world = game::deal_hidden(state, seat, rng);
      if (!hands_hidden) {  // the other hands seen: only the deck is dealt again
        for (std::size_t i = 0; i < state.players.size(); ++i) {
          world.players[i].hand = state.players[i].hand;
        }
        world.table.tavern_deck = state.table.tavern_deck;
        game::Pile& deck = world.table.tavern_deck;
        util::shuffle(std::span<game::Card>(deck.begin(), deck.end()), rng);
      }
      const auto dealt = world;
      ASSERT_TRUE(arrange_tavern(world, seat, hands_hidden, memory, rng));
      EXPECT_TRUE(remembers_truly(memory, world));
      EXPECT_EQ(hidden_kinds(world), hidden_kinds(state));
      EXPECT_EQ(game::seat_view(world, seat), game::seat_view(state, seat));
      for (std::size_t i = 0; i < state.players.size(); ++i) {
        if (!hands_hidden || i == seat) {
          EXPECT_EQ(world.players[i].hand, dealt.players[i].hand);
        }
      }
      ++arranged;
    }
    // A memory of a card the seat holds cannot be kept: the world stays as dealt.
    if (!state.current_player().hand.empty()) {
      TavernMemory wrong = memory;
      wrong.top.push_back(state.current_player().hand[0]);
      util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(7);
      auto world = game::deal_hidden(state, seat, rng);
      const auto dealt = world;
      EXPECT_FALSE(arrange_tavern(world, seat, true, wrong, rng));
      EXPECT_EQ(world.table.tavern_deck, dealt.table.tavern_deck);
    }
  };
  for (std::uint64_t seed = 0; seed < 10; ++seed) {
    follow_a_game<1>(seed, check);
    follow_a_game<3>(seed, check);
  }
  EXPECT_GT(arranged, 10u);
}

TEST(ISMCTSPlayer, RememberingChangesNothingUntilTheSeatSawTheDeckFilled) {
  // Until an exact kill or a heal the memory is empty and both settings decide alike.
  State<1> state = State<1>::create(4);
  ISMCTSSettings with = budget(100, 3);
  ISMCTSSettings without = with;
  without.remember = false;
  ISMCTSPlayer a(with), b(without);
  TavernMemory memory;
  for (int move = 0; move < 200; ++move) {
    const game::SeatView<1> before = game::seat_view(state, 0);
    const Action chosen = a.play(state);
    const Action other = b.play(state);
    if (!memory.empty()) break;
    ASSERT_EQ(chosen, other) << "move " << move;
    if (state.step(chosen)) break;
    memory.follow(before, game::seat_view(state, 0), true);
  }
  // A solo game of 200 moves at most: it should have reached a heal or an exact kill.
  EXPECT_FALSE(memory.empty());
}

INSTANTIATE_TEST_SUITE_P(Players, AgentsByPlayers, ::testing::Values(1, 2, 3, 4));

TEST(ISMCTSPlayer, SeededPlayersRepeatAWholeGame) {
  auto game = [](std::uint64_t player_seed, std::optional<unsigned> horizon = std::nullopt) {
    ISMCTSSettings s = budget(100, player_seed);
    s.horizon = horizon;
    ISMCTSPlayer player(s);
    State<2> state = State<2>::create(21);
    std::vector<Action> played;
    while (!state.get_action_space().empty() && played.size() < 300) {
      played.push_back(player.play(state));
      if (state.step(played.back())) break;
    }
    return played;
  };
  const std::vector<Action> first = game(4);
  EXPECT_GT(first.size(), 3u);
  EXPECT_EQ(game(4), first);
  const std::vector<Action> cut = game(4, 1);
  EXPECT_GT(cut.size(), 3u);
  EXPECT_EQ(game(4, 1), cut);
}

TEST(ISMCTSPlayer, IterationBudgetIsExactAndTimeBudgetHolds) {
  const State<3> state = midgame<3>(9, 5);
  ISMCTSSettings s = budget(333, 1);
  s.reuse = false;
  ISMCTSPlayer counted(s);
  counted.play(state);
  EXPECT_EQ(counted.last_decision().iterations, 333u);

  ISMCTSSettings timed;
  timed.time_ms = 25;
  ISMCTSPlayer clocked(timed);
  clocked.play(state);
  EXPECT_GT(clocked.last_decision().iterations, 1u);
  EXPECT_GE(clocked.last_decision().milliseconds, 25.0);
  EXPECT_LT(clocked.last_decision().milliseconds, 25.0 * 5 + 100);

  // Whichever runs out first: a tiny iteration budget ends long before a long clock.
  timed.iterations = 10;
  timed.time_ms = 60000;
  ISMCTSPlayer both(timed);
  both.play(state);
  EXPECT_EQ(both.last_decision().iterations, 10u);
  EXPECT_LT(both.last_decision().milliseconds, 60000.0);
}

TEST(ISMCTSPlayer, ReusesTheSubtreeOfItsOwnMoveOnly) {
  State<1> state = midgame<1>(5, 0);
  ISMCTSPlayer player(budget(400, 2));
  const Action first = player.play(state);
  ASSERT_FALSE(state.step(first));
  player.play(state);
  EXPECT_GT(player.last_decision().reused_visits, 0u);
  // A state that is not what the last action led to starts from an empty tree.
  player.play(midgame<1>(6, 3));
  EXPECT_EQ(player.last_decision().reused_visits, 0u);
}

TEST(ISMCTSTree, BranchesAKillByTheEnemyItReveals) {
  // Solo against a Jack of Clubs worn down to 5: ♥5 kills it exactly and the turn goes on
  // against whichever Queen lies next, an order the seat does not know. With Branch::Enemy
  // the kill's visits are split between the Queens; without, every Queen shares them all.
  State<1> state = testing::bare_state<1>("CJ", "SQ HQ DQ");
  state.table.castle_deck.back().take_damage(15);
  state.players[0].hand = hand("H5 S2 D3 C4 S6 H7 D8 C9");
  const Action kill = Action::play(testing::card("H5"));
  State<1> after = state;
  ASSERT_FALSE(after.step(kill));
  ASSERT_EQ(after.has_turn.id, 0u);
  for (Branch branch : {Branch::None, Branch::Enemy}) {
    ISMCTSSettings s;
    s.branch = branch;
    ISMCTSTree<1> tree(s);
    util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(2);
    tree.search(state, rng, 600, std::nullopt);
    std::uint64_t kills = 0;
    for (const RootStats& root : tree.root_stats()) {
      if (root.action == kill) kills = root.visits;
    }
    ASSERT_GT(kills, 30u) << "the search should try the exact kill";
    std::uint64_t below = 0;
    for (const char* queen : {"SQ", "HQ", "DQ"}) {
      State<1> next = after;
      auto& castle = next.table.castle_deck;
      const auto it = std::find_if(castle.begin(), castle.end(), [&](const game::Enemy& e) {
        return e.card() == testing::card(queen);
      });
      ASSERT_NE(it, castle.end());
      std::iter_swap(it, castle.end() - 1);
      ISMCTSTree<1> kept = tree;
      ASSERT_TRUE(kept.reroot(kill, next));
      if (branch == Branch::Enemy) {
        EXPECT_GT(kept.root_visits(), 0u) << queen;
        EXPECT_LT(kept.root_visits(), kills / 2) << queen;
        below += kept.root_visits();
      } else {
        EXPECT_GE(kept.root_visits() + 1, kills) << queen;
      }
    }
    // Each visit of the kill went on below one Queen, less those that added a node there.
    if (branch == Branch::Enemy) {
      EXPECT_LE(below, kills);
      EXPECT_GE(below + 3, kills);
    }
  }
}

TEST(ISMCTSPlayer, RefusesUnusableSettings) {
  struct Case {
    void (*change)(ISMCTSSettings&);
    std::string message;
  };
  const Case cases[] = {
      {[](ISMCTSSettings& s) { s.time_ms = 0; }, "time_ms must be a positive"},
      {[](ISMCTSSettings& s) { s.time_ms = NAN; }, "time_ms must be a positive"},
      {[](ISMCTSSettings& s) { s.iterations = 0; }, "iterations must be at least 1"},
      {[](ISMCTSSettings& s) { s.threads = 0; }, "threads must be between 1 and 256"},
      {[](ISMCTSSettings& s) { s.threads = 257; }, "threads must be between 1 and 256"},
      {[](ISMCTSSettings& s) { s.exploration = -1; }, "exploration must be"},
      {[](ISMCTSSettings& s) { s.epsilon = 1.5; }, "epsilon must be between 0 and 1"},
      {[](ISMCTSSettings& s) { s.horizon = 0; }, "horizon must be between 1 and 11"},
      {[](ISMCTSSettings& s) { s.horizon = 12; }, "horizon must be between 1 and 11"},
  };
  for (const Case& c : cases) {
    ISMCTSSettings s;
    c.change(s);
    try {
      ISMCTSPlayer player(s);
      ADD_FAILURE() << "accepted, expected: " << c.message;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  // Neither budget given: the default iteration budget.
  EXPECT_EQ(ISMCTSPlayer(ISMCTSSettings{}).settings().iterations, ISMCTSPlayer::kDefaultIterations);
}

TEST(ISMCTSPlayer, FailsWithoutActions) {
  // A solo discard that nothing covers, with no refill left, lists no action.
  State<1> state = testing::bare_state<1>("SK");
  state.players[0].hand = hand("S2");
  state.action_type = game::ActionType::discard(20);
  state.hand_refills_left = 0;
  ISMCTSPlayer player(budget(10, 1));
  EXPECT_THROW(player.play(state), util::Failure);
  EXPECT_TRUE(player.ranked_actions().empty());
}

TEST(Heuristics, PrefersExactKillsAndCheapCoveringDiscards) {
  // Against a Jack of Clubs worn down to 5 health: ♥5 kills exactly, ♠10 overkills, ♦2 leaves
  // it standing.
  State<2> state = testing::bare_state<2>("CJ", "CK");
  state.table.castle_deck.back().take_damage(15);
  state.players[0].hand = hand("H5 S10 D2");
  auto score = [&](const char* card) {
    return action_score(state, Action::play(testing::card(card)));
  };
  EXPECT_GT(score("H5"), score("S10"));
  EXPECT_GT(score("S10"), score("D2"));

  // Discard 7 from 3♠ 4♥ 10♦: exactly 3♠ 4♥ beats overshooting with 10♦.
  state.players[0].hand = hand("S3 H4 D10");
  state.action_type = game::ActionType::discard(7);
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(1);
  std::vector<Action> buffer;
  Action action = Action::yield();
  ASSERT_TRUE(rollout_action(state, 0.0, rng, buffer, action));
  EXPECT_EQ(action, Action::discard(card_vector("S3 H4")));
}

TEST(Heuristics, GreedyDiscardIsTheBestScoredSubset) {
  // The rollout's discard is the first subset, in mask order, with the best discard_score.
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(3);
  std::vector<Action> buffer;
  for (std::uint64_t seed = 1; seed <= 40; ++seed) {
    State<1> state = State<1>::create(seed);  // solo hands of 8, jesters among them
    const game::Hand& held = state.players[0].hand;
    const unsigned total = game::attack_sum(held);
    for (unsigned amount = 1; amount <= total; amount += 1 + seed % 4) {
      state.action_type = game::ActionType::discard(static_cast<std::uint16_t>(amount));
      unsigned expected = 0;
      double best = kLosing - 1.0;
      for (unsigned mask = 1; mask < (1u << held.size()); ++mask) {
        const double score = discard_score(held, mask, amount);
        if (score > kLosing && score > best) {
          best = score;
          expected = mask;
        }
      }
      Action action = Action::yield();
      ASSERT_TRUE(rollout_action(state, 0.0, rng, buffer, action));
      EXPECT_EQ(action, Action::discard_subset(held, expected)) << seed << " " << amount;
    }
  }
}

TEST(ISMCTSTree, SortBestKeepsTheStableOrderOfTheBest) {
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(5);
  for (std::size_t size : {0u, 1u, 7u, 64u, 255u}) {
    std::vector<std::pair<double, std::uint32_t>> order;
    for (std::uint32_t i = 0; i < size; ++i) {
      order.emplace_back(static_cast<double>(rng.gen_below(6)) - 3.0, i);  // many ties
    }
    auto stable = order;
    std::stable_sort(stable.begin(), stable.end(),
                     [](const auto& x, const auto& y) { return x.first > y.first; });
    for (std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{3}, size, size + 2}) {
      auto sorted = order;
      sort_best(sorted, count);
      const std::size_t kept = std::min(count, size);
      EXPECT_TRUE(std::equal(sorted.begin(), sorted.begin() + kept, stable.begin()))
          << size << " " << count;
    }
  }
}

TEST(Heuristics, AvoidsAPlayItCannotSurvive) {
  // ♥9 leaves 8 in hand against an attack of 10; ♠8 lowers the attack to 2 and survives.
  State<2> state = testing::bare_state<2>("DJ", "CK");
  state.players[0].hand = hand("H9 S8");
  EXPECT_LE(action_score(state, Action::play(testing::card("H9"))), kLosing / 2);
  EXPECT_GT(action_score(state, Action::play(testing::card("S8"))), kLosing / 2);
}

}  // namespace
}  // namespace vardelic::agents
