#include "game/table.h"

#include <vector>

#include "util/failure.h"

namespace vardelic::game {

CastleDeck Table::new_castle_deck(util::ChaCha12Rng& rng) {
  CastleDeck deck;
  for (CardValue rank : {CardValue::King, CardValue::Queen, CardValue::Jack}) {
    util::InlineList<Enemy, 4> group;
    for (CardSuit suit : kRealSuits) group.push_back(Enemy::create({suit, rank}));
    util::shuffle(std::span(group.begin(), group.end()), rng);
    for (const Enemy& enemy : group) deck.push_back(enemy);
  }
  return deck;
}

Pile Table::new_tavern_deck(std::size_t n_jesters, util::ChaCha12Rng& rng) {
  Pile deck;
  for (CardValue value : numbers()) {
    for (CardSuit suit : kRealSuits) deck.push_back({suit, value});
  }
  for (std::size_t i = 0; i < n_jesters; ++i) deck.push_back(kJester);
  util::shuffle(std::span(deck.begin(), deck.end()), rng);
  return deck;
}

Table Table::create(std::size_t n_jesters, util::ChaCha12Rng& rng) {
  Table table;
  table.castle_deck = new_castle_deck(rng);
  table.tavern_deck = new_tavern_deck(n_jesters, rng);
  return table;
}

std::optional<Card> Table::draw_card() {
  if (tavern_deck.empty()) return std::nullopt;
  Card card = tavern_deck.back();
  tavern_deck.pop_back();
  return card;
}

Hand Table::draw_cards(std::size_t count) {
  Hand drawn;
  for (std::size_t i = 0; i < count && !tavern_deck.empty(); ++i) {
    drawn.push_back(tavern_deck.back());
    tavern_deck.pop_back();
  }
  return drawn;
}

void Table::discard_attack_cards() {
  discard_cards(attack_cards);
  attack_cards.clear();
}

void Table::heal_from_discard(std::size_t n_cards, util::ChaCha12Rng& rng) {
  util::shuffle(std::span(discard_pile.begin(), discard_pile.end()), rng);
  for (std::size_t i = 0; i < n_cards && !discard_pile.empty(); ++i) {
    tavern_deck.insert(0, discard_pile.back());
    discard_pile.pop_back();
  }
}

void Table::permute(std::span<Hand* const> player_hands, util::ChaCha12Rng& rng) {
  // The fresh castle deck is drawn first whatever happens to it, so the generator stream of
  // the rest of the re-deal does not depend on the state of the fight.
  CastleDeck fresh = new_castle_deck(rng);
  if (!castle_deck.empty()) {
    Enemy current = castle_deck.back();
    CastleDeck rebuilt;
    for (const Enemy& enemy : fresh) {
      if (enemy.card() == current.card()) continue;
      for (std::size_t i = 0; i + 1 < castle_deck.size(); ++i) {
        if (castle_deck[i] == enemy) {
          rebuilt.push_back(enemy);
          break;
        }
      }
    }
    rebuilt.push_back(current);
    castle_deck = rebuilt;
  }

  Pile pool;
  for (const Card& card : discard_pile) pool.push_back(card);
  for (const Hand* hand : player_hands) {
    for (const Card& card : *hand) pool.push_back(card);
  }
  for (const Card& card : tavern_deck) pool.push_back(card);
  util::shuffle(std::span(pool.begin(), pool.end()), rng);

  std::size_t next = 0;
  auto deal = [&](auto& list) {
    std::size_t size = list.size();
    list.clear();
    for (std::size_t i = 0; i < size; ++i) list.push_back(pool[next++]);
  };
  for (Hand* hand : player_hands) deal(*hand);
  deal(tavern_deck);
  discard_pile.clear();
  while (next < pool.size()) discard_pile.push_back(pool[next++]);
}

void write_debug(util::DebugWriter& w, const Table& table) {
  w.record("Table")
      .field("castle_deck", table.castle_deck)
      .field("tavern_deck", table.tavern_deck)
      .field("discard_pile", table.discard_pile)
      .field("attack_cards", table.attack_cards)
      .finish();
}

}  // namespace vardelic::game
