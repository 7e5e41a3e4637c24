#include "game/table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "testing/game_testing.h"
#include "util/debug_text.h"
#include "util/failure.h"
#include "util/rng.h"

namespace vardelic::game {
namespace {

using testing::card;
using testing::enemy;
using testing::hand;
using testing::pile;
using util::ChaCha12Rng;

template <typename Range>
std::vector<Card> sorted(const Range& cards) {
  std::vector<Card> out(std::begin(cards), std::end(cards));
  std::sort(out.begin(), out.end(),
            [](Card a, Card b) { return std::pair(a.suit, a.value) < std::pair(b.suit, b.value); });
  return out;
}

// Cards have no order of their own; sets of card sequences use these numbers.
template <typename Range>
std::vector<int> codes(const Range& cards) {
  std::vector<int> out;
  for (Card c : cards) out.push_back(static_cast<int>(c.suit) * 16 + static_cast<int>(c.value));
  return out;
}

template <typename Range>
std::vector<Card> as_vector(const Range& cards) {
  return std::vector<Card>(std::begin(cards), std::end(cards));
}

class NewTable : public ::testing::TestWithParam<std::size_t> {};

TEST_P(NewTable, BuildsBothDecks) {
  const std::size_t jesters = GetParam();
  for (std::uint64_t seed : {0ull, 1ull, 99ull}) {
    ChaCha12Rng rng = ChaCha12Rng::from_seed(seed);
    Table table = Table::create(jesters, rng);
    EXPECT_TRUE(table.discard_pile.empty());
    EXPECT_TRUE(table.attack_cards.empty());

    ASSERT_EQ(table.tavern_deck.size(), 40 + jesters);
    std::vector<Card> expected;
    for (CardSuit suit : kRealSuits) {
      for (CardValue value : numbers()) expected.push_back({suit, value});
    }
    for (std::size_t i = 0; i < jesters; ++i) expected.push_back(kJester);
    EXPECT_EQ(sorted(table.tavern_deck), sorted(expected));

    // Bottom to top: four Kings, four Queens, four Jacks, each rank holding every suit once,
    // all untouched.
    const CastleDeck& castle = table.castle_deck;
    ASSERT_EQ(castle.size(), 12u);
    const CardValue ranks[] = {CardValue::King, CardValue::Queen, CardValue::Jack};
    for (std::size_t r = 0; r < 3; ++r) {
      std::set<CardSuit> suits;
      for (std::size_t i = 4 * r; i < 4 * r + 4; ++i) {
        EXPECT_EQ(castle[i].card().value, ranks[r]);
        EXPECT_EQ(castle[i], Enemy::create(castle[i].card()));
        suits.insert(castle[i].card().suit);
      }
      EXPECT_EQ(suits.size(), 4u);
    }
    ASSERT_NE(table.current_enemy(), nullptr);
    EXPECT_EQ(table.current_enemy()->card().value, CardValue::Jack);
  }
}

INSTANTIATE_TEST_SUITE_P(Jesters, NewTable, ::testing::Values(0, 1, 2));

TEST(Table, SameSeedSameTableAndCastleDrawnFirst) {
  ChaCha12Rng a = ChaCha12Rng::from_seed(7);
  ChaCha12Rng b = ChaCha12Rng::from_seed(7);
  Table first = Table::create(2, a);
  EXPECT_EQ(first, Table::create(2, b));

  ChaCha12Rng c = ChaCha12Rng::from_seed(7);
  CastleDeck castle = Table::new_castle_deck(c);
  Pile tavern = Table::new_tavern_deck(2, c);
  EXPECT_EQ(first.castle_deck, castle);
  EXPECT_EQ(first.tavern_deck, tavern);
  EXPECT_EQ(a, c);

  ChaCha12Rng d = ChaCha12Rng::from_seed(8);
  EXPECT_NE(first, Table::create(2, d));
}

TEST(Table, EachRankOfTheCastleIsShuffled) {
  // Over many seeds every suit turns up as the first Jack and as the last King.
  std::set<CardSuit> top_jacks, bottom_kings;
  for (std::uint64_t seed = 0; seed < 200; ++seed) {
    ChaCha12Rng rng = ChaCha12Rng::from_seed(seed);
    CastleDeck castle = Table::new_castle_deck(rng);
    top_jacks.insert(castle.back().card().suit);
    bottom_kings.insert(castle[0].card().suit);
  }
  EXPECT_EQ(top_jacks.size(), 4u);
  EXPECT_EQ(bottom_kings.size(), 4u);
}

TEST(Table, DrawingCards) {
  Table table;
  EXPECT_EQ(table.draw_card(), std::nullopt);
  EXPECT_TRUE(table.draw_cards(5).empty());

  table.tavern_deck = pile("S2 H3 D4");
  EXPECT_EQ(table.draw_card(), card("D4"));
  table.tavern_deck = pile("S2 H3 D4");
  EXPECT_EQ(table.draw_cards(5), hand("D4 H3 S2"));
  EXPECT_TRUE(table.tavern_deck.empty());

  table.tavern_deck = pile("S2 H3 D4 C5");
  EXPECT_EQ(table.draw_cards(2), hand("C5 D4"));
  EXPECT_EQ(table.tavern_deck, pile("S2 H3"));
  EXPECT_TRUE(table.draw_cards(0).empty());
  EXPECT_EQ(table.tavern_deck.size(), 2u);
}

TEST(Table, DrawingMoreThanAHandThatExistsFails) {
  Table table;
  table.tavern_deck = pile("S2 S3 S4 S5 S6 S7 S8 S9 S10");
  EXPECT_THROW(table.draw_cards(9), util::Failure);
}

TEST(Table, DiscardsAndAttackCardsKeepTheirOrder) {
  Table table;
  table.discard_card(card("S2"));
  table.discard_cards(hand("H3 D4"));
  EXPECT_EQ(table.discard_pile, pile("S2 H3 D4"));

  table.add_attack_cards(hand("C5"));
  table.add_attack_cards(testing::card_vector("SA H9"));
  EXPECT_EQ(table.attack_cards, pile("C5 SA H9"));
  table.discard_attack_cards();
  EXPECT_TRUE(table.attack_cards.empty());
  EXPECT_EQ(table.discard_pile, pile("S2 H3 D4 C5 SA H9"));
}

TEST(Table, CardOnTopOfTheTavernDeckIsDrawnNext) {
  Table table;
  table.tavern_deck = pile("S2 H3");
  table.add_to_top_of_tavern_deck(card("DJ"));
  EXPECT_EQ(table.tavern_deck, pile("S2 H3 DJ"));
  EXPECT_EQ(table.draw_card(), card("DJ"));
}

TEST(Table, HealMovesCardsToTheBottomOfTheTavernDeck) {
  struct Case {
    const char* discard;
    std::size_t n;
  };
  for (Case c : {Case{"S2 H3", 5}, Case{"S2 H3 D4 C5 S6 H7 D8 C9 S10 HJ", 3}, Case{"S2", 1},
                 Case{"S2 H3 D4", 3}, Case{"", 4}}) {
    Table table;
    table.tavern_deck = pile("CA C2 C3");
    table.discard_pile = pile(c.discard);
    ChaCha12Rng rng = ChaCha12Rng::from_seed(5);
    table.heal_from_discard(c.n, rng);

    // The same draws by hand: one Fisher–Yates pass of the pile, then cards c1, c2, ... taken
    // from its top, each going below the one before.
    ChaCha12Rng expected_rng = ChaCha12Rng::from_seed(5);
    Pile shuffled = pile(c.discard);
    util::shuffle(std::span(shuffled.begin(), shuffled.end()), expected_rng);
    std::size_t moved = std::min(c.n, shuffled.size());
    std::vector<Card> expected_tavern;
    for (std::size_t i = shuffled.size() - moved; i < shuffled.size(); ++i) {
      expected_tavern.push_back(shuffled[i]);
    }
    for (Card old : pile("CA C2 C3")) expected_tavern.push_back(old);
    EXPECT_EQ(as_vector(table.tavern_deck), expected_tavern) << c.discard;
    EXPECT_EQ(as_vector(table.discard_pile),
              std::vector<Card>(shuffled.begin(), shuffled.end() - moved));
    EXPECT_EQ(table.tavern_deck.back(), card("C3")) << "the top card never changes";
    EXPECT_EQ(rng, expected_rng);
  }
}

TEST(Table, HealFromAnEmptyDiscardPileChangesNothing) {
  Table table;
  table.tavern_deck = pile("S2 H3");
  Table before = table;
  ChaCha12Rng rng = ChaCha12Rng::from_seed(1);
  table.heal_from_discard(5, rng);
  EXPECT_EQ(table, before);
}

TEST(Table, EnemiesLeaveFromTheTop) {
  Table table;
  EXPECT_EQ(table.current_enemy(), nullptr);
  EXPECT_EQ(table.current_enemy_mut(), nullptr);
  table.next_enemy();
  EXPECT_TRUE(table.castle_deck.empty());

  table.castle_deck.push_back(enemy("SK"));
  table.castle_deck.push_back(enemy("HJ"));
  EXPECT_EQ(*table.current_enemy(), enemy("HJ"));
  table.current_enemy_mut()->take_damage(4);
  EXPECT_EQ(table.castle_deck.back().health(), 16);
  table.next_enemy();
  EXPECT_EQ(*table.current_enemy(), enemy("SK"));
  table.next_enemy();
  EXPECT_EQ(table.current_enemy(), nullptr);
}

TEST(Table, DebugText) {
  Table table;
  table.castle_deck.push_back(enemy("DJ"));
  table.tavern_deck = pile("S2 Jester");
  table.discard_pile = pile("C4");
  EXPECT_EQ(util::debug_text(table),
            "Table { castle_deck: [Enemy { card: ♦J, health: 20, attack: 10, jester_applied: "
            "false }], tavern_deck: [♠2, Jester], discard_pile: [♣4], attack_cards: [] }");
}

// A mid-game table: the castle deck with `left` enemies of a fresh deck, its current enemy
// optionally touched, cards spread over the piles and `other_hands` hands.
struct PermuteCase {
  std::size_t other_hands;
  std::size_t left;  // enemies still in the castle deck
  bool touched;      // the current enemy has taken damage, lost attack and got the jester
};

class Permute : public ::testing::TestWithParam<PermuteCase> {};

TEST_P(Permute, KeepsSizesCardsAndTheCurrentEnemy) {
  const PermuteCase c = GetParam();
  for (std::uint64_t seed = 0; seed < 20; ++seed) {
    ChaCha12Rng setup = ChaCha12Rng::from_seed(seed);
    Table table = Table::create(2, setup);
    while (table.castle_deck.size() > c.left) table.next_enemy();
    if (c.touched && !table.castle_deck.empty()) {
      table.current_enemy_mut()->take_damage(3);
      table.current_enemy_mut()->decrease_attack(2);
      table.current_enemy_mut()->apply_jester();
    }
    std::vector<Hand> hands(c.other_hands);
    for (Hand& h : hands) h = table.draw_cards(5 + seed % 3);
    table.add_attack_cards(table.draw_cards(3));
    table.discard_cards(table.draw_cards(8));
    table.discard_cards(table.draw_cards(4));
    const Table before = table;
    const std::vector<Hand> hands_before = hands;

    std::vector<Hand*> pointers;
    for (Hand& h : hands) pointers.push_back(&h);
    ChaCha12Rng rng = ChaCha12Rng::from_seed(1000 + seed);
    table.permute(pointers, rng);

    EXPECT_EQ(table.attack_cards, before.attack_cards);
    EXPECT_EQ(table.tavern_deck.size(), before.tavern_deck.size());
    EXPECT_EQ(table.discard_pile.size(), before.discard_pile.size());
    std::vector<Card> pool_before(before.discard_pile.begin(), before.discard_pile.end());
    std::vector<Card> pool_after(table.discard_pile.begin(), table.discard_pile.end());
    for (std::size_t i = 0; i < hands.size(); ++i) {
      EXPECT_EQ(hands[i].size(), hands_before[i].size());
      pool_before.insert(pool_before.end(), hands_before[i].begin(), hands_before[i].end());
      pool_after.insert(pool_after.end(), hands[i].begin(), hands[i].end());
    }
    pool_before.insert(pool_before.end(), before.tavern_deck.begin(), before.tavern_deck.end());
    pool_after.insert(pool_after.end(), table.tavern_deck.begin(), table.tavern_deck.end());
    EXPECT_EQ(sorted(pool_after), sorted(pool_before));

    // The castle deck holds the same enemies, the current one on top exactly as it was, the
    // others untouched and still grouped by rank.
    ASSERT_EQ(table.castle_deck.size(), before.castle_deck.size());
    if (!before.castle_deck.empty()) {
      EXPECT_EQ(table.castle_deck.back(), before.castle_deck.back());
    }
    std::vector<Card> castle_before, castle_after;
    for (std::size_t i = 0; i < table.castle_deck.size(); ++i) {
      castle_before.push_back(before.castle_deck[i].card());
      castle_after.push_back(table.castle_deck[i].card());
      EXPECT_EQ(table.castle_deck[i].card().value, before.castle_deck[i].card().value);
      if (i + 1 < table.castle_deck.size()) {
        EXPECT_EQ(table.castle_deck[i], Enemy::create(table.castle_deck[i].card()));
      }
    }
    EXPECT_EQ(sorted(castle_after), sorted(castle_before));
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, Permute,
                         ::testing::Values(PermuteCase{0, 12, false}, PermuteCase{0, 12, true},
                                           PermuteCase{1, 12, false}, PermuteCase{1, 9, true},
                                           PermuteCase{2, 6, false}, PermuteCase{2, 5, true},
                                           PermuteCase{3, 12, true}, PermuteCase{3, 1, true},
                                           PermuteCase{3, 1, false}, PermuteCase{1, 0, false}));

TEST(Permute, DrawsTheFreshCastleFirstThenShufflesOnePool) {
  ChaCha12Rng setup = ChaCha12Rng::from_seed(3);
  Table table = Table::create(1, setup);
  Hand a = table.draw_cards(6);
  Hand b = table.draw_cards(4);
  table.discard_cards(table.draw_cards(7));
  const Table before = table;

  ChaCha12Rng rng = ChaCha12Rng::from_seed(77);
  Hand* hands[] = {&a, &b};
  Hand a0 = a, b0 = b;
  table.permute(hands, rng);

  // Pool order: discard pile bottom first, then each hand, then the tavern deck bottom first;
  // one pass over it, dealt back to the hands, then the tavern deck, the rest to the discard.
  ChaCha12Rng expected_rng = ChaCha12Rng::from_seed(77);
  Table::new_castle_deck(expected_rng);
  std::vector<Card> pool = as_vector(before.discard_pile);
  pool.insert(pool.end(), a0.begin(), a0.end());
  pool.insert(pool.end(), b0.begin(), b0.end());
  pool.insert(pool.end(), before.tavern_deck.begin(), before.tavern_deck.end());
  util::shuffle(std::span(pool), expected_rng);
  auto it = pool.begin();
  EXPECT_EQ(as_vector(a), std::vector<Card>(it, it + 6));
  it += 6;
  EXPECT_EQ(as_vector(b), std::vector<Card>(it, it + 4));
  it += 4;
  EXPECT_EQ(as_vector(table.tavern_deck),
            std::vector<Card>(it, it + static_cast<std::ptrdiff_t>(before.tavern_deck.size())));
  it += static_cast<std::ptrdiff_t>(before.tavern_deck.size());
  EXPECT_EQ(as_vector(table.discard_pile), std::vector<Card>(it, pool.end()));
  EXPECT_EQ(rng, expected_rng);
}

TEST(Permute, ReshufflesTheHiddenEnemiesWithinTheirRank) {
  // An untouched Jack on top stays there; the three Jacks below it, the Queens and the Kings
  // each come out in more than one order over many generators.
  ChaCha12Rng setup = ChaCha12Rng::from_seed(11);
  const Table start = Table::create(0, setup);
  std::set<std::vector<int>> jack_orders, king_orders;
  for (std::uint64_t seed = 0; seed < 50; ++seed) {
    Table table = start;
    ChaCha12Rng rng = ChaCha12Rng::from_seed(seed);
    table.permute({}, rng);
    EXPECT_EQ(table.castle_deck.back(), start.castle_deck.back());
    std::vector<Card> jacks, kings;
    for (std::size_t i = 0; i < 4; ++i) kings.push_back(table.castle_deck[i].card());
    for (std::size_t i = 8; i < 11; ++i) jacks.push_back(table.castle_deck[i].card());
    jack_orders.insert(codes(jacks));
    king_orders.insert(codes(kings));
  }
  EXPECT_GT(jack_orders.size(), 1u);
  EXPECT_GT(king_orders.size(), 1u);
}

TEST(Permute, OnePlayerRedealsBetweenDiscardAndTavernOnly) {
  Table table;
  table.castle_deck.push_back(enemy("CK"));
  table.castle_deck.push_back(enemy("DQ"));
  table.tavern_deck = pile("S2 S3 S4 S5 S6");
  table.discard_pile = pile("H2 H3 H4");
  table.attack_cards = pile("D7 C9");
  const Table before = table;
  std::set<std::vector<int>> tavern_sets;
  for (std::uint64_t seed = 0; seed < 30; ++seed) {
    Table t = before;
    ChaCha12Rng rng = ChaCha12Rng::from_seed(seed);
    t.permute({}, rng);
    EXPECT_EQ(t.tavern_deck.size(), 5u);
    EXPECT_EQ(t.discard_pile.size(), 3u);
    EXPECT_EQ(t.attack_cards, before.attack_cards);
    EXPECT_EQ(t.castle_deck, before.castle_deck);
    std::vector<Card> all = as_vector(t.tavern_deck);
    all.insert(all.end(), t.discard_pile.begin(), t.discard_pile.end());
    EXPECT_EQ(sorted(all), sorted(pile("S2 S3 S4 S5 S6 H2 H3 H4")));
    tavern_sets.insert(codes(sorted(t.tavern_deck)));
  }
  EXPECT_GT(tavern_sets.size(), 1u) << "the cards never moved between the two piles";
}

}  // namespace
}  // namespace vardelic::game
