#include "game/information.h"

#include <algorithm>
#include <span>
#include <stdexcept>
#include <string>

namespace vardelic::game {
namespace {

void check_seat(std::size_t seat, std::size_t players) {
  if (seat >= players) {
    throw std::invalid_argument("player " + std::to_string(seat) + " is not at a table of " +
                                std::to_string(players));
  }
}

}  // namespace

template <std::size_t N>
SeatView<N> seat_view(const State<N>& state, std::size_t seat) {
  check_seat(seat, N);
  const Table& table = state.table;
  SeatView<N> view;
  view.seat = static_cast<std::uint8_t>(seat);
  view.to_move = static_cast<std::uint8_t>(state.has_turn.id);
  view.phase = state.action_type;
  view.level = state.level;
  view.times_yielded = static_cast<std::uint8_t>(state.times_yielded);
  view.refills_left = state.hand_refills_left;
  view.max_hand_size = state.max_hand_size;
  view.ended = state.has_ended;
  view.hand = state.players[seat].hand;
  for (std::size_t i = 0; i < N; ++i) {
    view.hand_sizes[i] = static_cast<std::uint8_t>(state.players[i].hand.size());
  }
  if (const Enemy* enemy = table.current_enemy()) {
    const Card card = enemy->card();
    view.enemy =
        EnemyView{card, static_cast<std::uint8_t>(starting_health(card.value) - enemy->health()),
                  enemy->health(), enemy->attack_value(), enemy->jester_applied()};
  }
  for (const Enemy& enemy : table.castle_deck) {
    view.enemies_left =
        static_cast<std::uint16_t>(view.enemies_left | 1u << enemy_kind(enemy.card()));
  }
  view.tavern_size = static_cast<std::uint8_t>(table.tavern_deck.size());
  for (Card card : table.discard_pile) ++view.discard[card_kind(card)];
  view.discard_size = static_cast<std::uint8_t>(table.discard_pile.size());
  view.attack_cards = table.attack_cards;
  return view;
}

template <std::size_t N>
State<N> deal_hidden(const State<N>& state, std::size_t seat, util::ChaCha12Rng& rng) {
  check_seat(seat, N);
  State<N> world = state;
  Table& table = world.table;

  // The enemies below the current one are untouched, so only their order within a rank is
  // hidden: a fresh castle deck, filtered to them, orders them without looking at their order.
  const CastleDeck fresh = Table::new_castle_deck(rng);
  if (table.castle_deck.size() > 2) {
    const CastleDeck& old = table.castle_deck;
    CastleDeck rebuilt;
    for (const Enemy& enemy : fresh) {
      const auto below = std::span(old.begin(), old.end() - 1);
      if (std::find(below.begin(), below.end(), enemy) != below.end()) rebuilt.push_back(enemy);
    }
    rebuilt.push_back(old.back());
    table.castle_deck = rebuilt;
  }

  // The pool in a canonical order, so that the deal does not depend on how the cards lay.
  Pile pool;
  for (std::size_t i = 0; i < N; ++i) {
    if (i == seat) continue;
    for (Card card : world.players[i].hand) pool.push_back(card);
  }
  for (Card card : table.tavern_deck) pool.push_back(card);
  std::sort(pool.begin(), pool.end(), [](Card a, Card b) { return card_kind(a) < card_kind(b); });
  util::shuffle(std::span(pool.begin(), pool.end()), rng);

  std::size_t next = 0;
  auto deal = [&](auto& cards) {
    const std::size_t size = cards.size();
    cards.clear();
    for (std::size_t k = 0; k < size; ++k) cards.push_back(pool[next++]);
  };
  for (std::size_t i = 0; i < N; ++i) {
    if (i != seat) deal(world.players[i].hand);
  }
  deal(table.tavern_deck);
  // The rules' own seed would foretell the outcome of every later heal.
  world.rng_seed = rng.next_u64();
  return world;
}

template SeatView<1> seat_view(const State<1>&, std::size_t);
template SeatView<2> seat_view(const State<2>&, std::size_t);
template SeatView<3> seat_view(const State<3>&, std::size_t);
template SeatView<4> seat_view(const State<4>&, std::size_t);
template State<1> deal_hidden(const State<1>&, std::size_t, util::ChaCha12Rng&);
template State<2> deal_hidden(const State<2>&, std::size_t, util::ChaCha12Rng&);
template State<3> deal_hidden(const State<3>&, std::size_t, util::ChaCha12Rng&);
template State<4> deal_hidden(const State<4>&, std::size_t, util::ChaCha12Rng&);

}  // namespace vardelic::game
