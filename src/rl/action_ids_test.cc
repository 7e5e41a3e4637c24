#include "rl/action_ids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <map>
#include <string>
#include <vector>

#include "game/state.h"
#include "rl/episode.h"
#include "rl/rl_testing.h"
#include "testing/game_testing.h"

namespace vardelic::rl {
namespace {

using game::Action;
using game::ActionKind;
using game::ActionType;
using game::State;
using vardelic::testing::bare_state;
using vardelic::testing::card;
using vardelic::testing::hand;

// The cards of the hand's slots named by the id's bits, as a sorted multiset.
std::vector<std::uint16_t> slot_cards(const game::Hand& hand, unsigned id) {
  std::vector<std::uint16_t> cards;
  for (std::size_t slot = 0; slot < 8; ++slot) {
    if ((id >> slot) & 1u) cards.push_back(static_cast<std::uint16_t>(card_kind(hand[slot])));
  }
  std::sort(cards.begin(), cards.end());
  return cards;
}

std::vector<std::uint16_t> action_cards(const Action& action) {
  std::vector<std::uint16_t> cards;
  for (game::Card c : action.cards()) cards.push_back(static_cast<std::uint16_t>(card_kind(c)));
  std::sort(cards.begin(), cards.end());
  return cards;
}

// What an id means, read from its definition rather than from the table: the id's action
// must be exactly this.
template <std::size_t N>
::testing::AssertionResult means(const State<N>& state, std::int64_t id, const Action& action) {
  const game::Hand& hand = state.current_player().hand;
  bool ok = false;
  if (id == kYieldId) {
    ok = action.kind() == ActionKind::Yield;
  } else if (id < 256) {
    if ((static_cast<unsigned>(id) >> hand.size()) != 0) {
      return ::testing::AssertionFailure() << "id " << id << " names an empty slot";
    }
    if (state.action_type.kind == ActionType::Kind::Discard) {
      ok = action == Action::discard_subset(hand, static_cast<unsigned>(id));
    } else {
      ok = action.kind() != ActionKind::Discard && action.kind() != ActionKind::Yield &&
           slot_cards(hand, static_cast<unsigned>(id)) == action_cards(action);
    }
  } else if (id == kRefillHandId) {
    ok = action.kind() == ActionKind::RefillHand;
  } else {
    ok = action.kind() == ActionKind::ChangePlayer &&
         action.player().id == (state.has_turn.id + static_cast<std::size_t>(id - 257)) % N;
  }
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "id " << id << " decodes to " << action_text(action);
}

template <typename T>
class RoundTrip : public ::testing::Test {};
using PlayerCounts = ::testing::Types<State<1>, State<2>, State<3>, State<4>>;
TYPED_TEST_SUITE(RoundTrip, PlayerCounts);

// Every legal action has exactly one legal id, every legal id decodes to a legal action that
// its definition names, and every other id is refused without changing anything.
TYPED_TEST(RoundTrip, EveryLegalActionHasExactlyOneId) {
  constexpr std::size_t N = TypeParam::kPlayers;
  util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(N);
  std::size_t duplicates = 0;
  const std::size_t positions =
      testing::play_random_games<N>(N * 100000, 0, 10000, [&](const Episode<N>& episode) {
        const auto& state = episode.state();
        const LegalActions& legal = episode.legal();
        std::vector<std::string> distinct;
        for (const Action& a : state.get_action_space()) {
          const std::string text = game::action_text(a);
          if (std::find(distinct.begin(), distinct.end(), text) == distinct.end()) {
            distinct.push_back(text);
          }
        }
        duplicates += state.get_action_space().size() - distinct.size();
        std::map<std::string, int> ids_of;
        for (std::int64_t id = -2; id < static_cast<std::int64_t>(kNumActions) + 2; ++id) {
          if (!legal.is_legal(id)) continue;
          ASSERT_TRUE(means(state, id, legal.action(id)));
          ids_of[game::action_text(legal.action(id))] += 1;
        }
        ASSERT_EQ(ids_of.size(), distinct.size());
        for (const std::string& text : distinct) ASSERT_EQ(ids_of[text], 1) << text;
        ASSERT_EQ(legal.ids().size(), distinct.size());

        // A refused id leaves the game exactly as it was.
        std::int64_t illegal = static_cast<std::int64_t>(rng.gen_below(kNumActions + 4)) - 2;
        if (legal.is_legal(illegal)) return;
        Episode<N> copy = episode;
        ASSERT_THROW(copy.step(illegal), std::invalid_argument);
        ASSERT_TRUE(copy.state() == state);
        ASSERT_EQ(std::vector<std::int16_t>(copy.legal().ids().begin(), copy.legal().ids().end()),
                  std::vector<std::int16_t>(legal.ids().begin(), legal.ids().end()));
      });
  EXPECT_GE(positions, 10000u);
  if (N == 4) {
    EXPECT_GT(duplicates, 0u) << "no hand with both jesters was met";
  }
}

// Hand-made positions whose ids are known.
struct Case {
  const char* name;
  std::size_t players;
  const char* hand;
  ActionType type;
  std::size_t mover;
  std::vector<std::int64_t> ids;  // the legal ids, ascending
};

class KnownIds : public ::testing::TestWithParam<Case> {};

template <std::size_t N>
std::vector<std::int64_t> legal_ids(const Case& c) {
  State<N> state = bare_state<N>("HJ", "CK");
  state.has_turn = game::PlayerId{c.mover};
  state.players[c.mover].hand = hand(c.hand);
  state.action_type = c.type;
  state.hand_refills_left = N == 1 ? 1 : 0;
  LegalActions legal;
  legal.build(state);
  std::vector<std::int64_t> ids(legal.ids().begin(), legal.ids().end());
  std::sort(ids.begin(), ids.end());
  return ids;
}

TEST_P(KnownIds, AreTheLegalIds) {
  const Case& c = GetParam();
  std::vector<std::int64_t> ids;
  switch (c.players) {
    case 1:
      ids = legal_ids<1>(c);
      break;
    case 2:
      ids = legal_ids<2>(c);
      break;
    case 3:
      ids = legal_ids<3>(c);
      break;
    default:
      ids = legal_ids<4>(c);
      break;
  }
  EXPECT_EQ(ids, c.ids);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KnownIds,
    ::testing::Values(
        // Singles 1, 2, 4, 8; AnimalCombo(♠A, ♣5) = slots 0+2, (♥A, ♠A) = 0+1, (♥A, ♣5) = 1+2.
        Case{"aces", 2, "SA HA C5 Jester", ActionType::play_cards(), 0, {0, 1, 2, 3, 4, 5, 6, 8}},
        // Two Twos and a Three: the pair 2♠ 2♥ is slots 0 and 2.
        Case{"pair", 3, "S2 D3 H2", ActionType::play_cards(), 1, {0, 1, 2, 4, 5}},
        // Both jesters: one Play of the jester, at the first jester's slot.
        Case{"two_jesters", 4, "Jester S9 Jester", ActionType::play_cards(), 0, {0, 1, 2}},
        // Discards of [♠5, Jester] from either jester are one action, the lowest id.
        Case{"discard_twins", 4, "S5 Jester Jester", ActionType::discard(5), 2, {1, 3, 7}},
        // [Jester, ♠5] and [♠5, Jester] differ in order, so both stay.
        Case{"discard_order", 4, "Jester S5 Jester", ActionType::discard(5), 3, {2, 3, 6, 7}},
        // Naming a player: ids by places after the chooser (2 of 3): 0 -> 258, 1 -> 259, 2 -> 257.
        Case{"change_player", 3, "S5", ActionType::jester(), 2, {257, 258, 259}},
        // Solo with a refill left: RefillHand after the discards.
        Case{"refill", 1, "S3 H4", ActionType::discard(4), 0, {2, 3, 256}},
        Case{"refill_only", 1, "S3", ActionType::discard(4), 0, {256}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vardelic::rl
