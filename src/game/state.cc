#include "game/state.h"

#include <algorithm>
#include <array>
#include <bit>

#include "game/subsets.h"
#include "util/failure.h"

namespace vardelic::game {
namespace {

constexpr std::uint8_t kMaxHandSize[] = {8, 7, 6, 5};
constexpr std::size_t kJesters[] = {0, 0, 1, 2};

using subsets::for_each_combination;
using subsets::kSubsetOrders;
using subsets::SubsetOrder;

// The player to move, const or not as the state is. Throws Failure when has_turn is not below N.
template <typename S>
auto& player_to_move(S& state) {
  if (state.has_turn.id >= S::kPlayers) {
    throw util::Failure("the player to move is not at the table");
  }
  return state.players[state.has_turn.id];
}

// The successor of a copy of the state after step(copy), or the result that ended the game.
template <std::size_t N, typename Step>
GameStatus<N> stepped_copy(const State<N>& state, Step&& step) {
  State<N> next = state;
  if (std::optional<GameResult> result = step(next)) return *result;
  return next;
}

}  // namespace

void write_debug(util::DebugWriter& w, const ActionType& type) {
  switch (type.kind) {
    case ActionType::Kind::PlayCards:
      w.out() += "PlayCards";
      break;
    case ActionType::Kind::Discard:
      w.tuple("Discard").value(type.amount).finish();
      break;
    case ActionType::Kind::Jester:
      w.out() += "Jester";
      break;
  }
}

util::ChaCha12Rng new_rng(std::optional<std::uint64_t> seed) {
  return seed ? util::ChaCha12Rng::from_seed(*seed) : util::ChaCha12Rng::from_entropy();
}

template <std::size_t N>
State<N> State<N>::create(std::optional<std::uint64_t> seed) {
  util::ChaCha12Rng rng = new_rng(seed);
  State state;
  state.max_hand_size = kMaxHandSize[N - 1];
  state.table = Table::create(kJesters[N - 1], rng);
  for (std::size_t i = 0; i < N; ++i) {
    state.players[i] = Player::create(i, state.table.draw_cards(state.max_hand_size));
  }
  state.rng_seed = rng.next_u64();
  state.hand_refills_left = N == 1 ? 2 : 0;
  return state;
}

template <std::size_t N>
const Player& State<N>::current_player() const {
  return player_to_move(*this);
}

template <std::size_t N>
Player& State<N>::current_player_mut() {
  return player_to_move(*this);
}

template <std::size_t N>
util::ChaCha12Rng State<N>::get_rng() {
  util::ChaCha12Rng rng = new_rng(rng_seed);
  rng_seed = rng.next_u64();
  return rng;
}

template <std::size_t N>
GameStatus<N> State<N>::apply_action(const Action& action) const {
  return stepped_copy(*this, [&](State& next) { return next.step(action); });
}

template <std::size_t N>
GameStatus<N> State<N>::play_cards(const Hand& cards) const {
  return stepped_copy(*this, [&](State& next) { return next.step_play_cards(cards); });
}

template <std::size_t N>
std::optional<GameResult> State<N>::step(const Action& action) {
  switch (action.kind()) {
    case ActionKind::Play:
    case ActionKind::AnimalCombo:
    case ActionKind::Combo:
      times_yielded = 0;
      return step_play_cards(action.cards());
    case ActionKind::Yield:
      if (++times_yielded >= N) return GameResult::Lost(level);
      return step_play_cards(Hand{});
    case ActionKind::Discard:
      current_player_mut().remove_from_hand(action.cards());
      table.discard_cards(action.cards());
      action_type = ActionType::play_cards();
      next_player();
      return std::nullopt;
    case ActionKind::ChangePlayer:
      // A foreign id would break the invariant has_turn < N that every later step relies on.
      if (action.player().id >= N) throw util::Failure("the named player is not at the table");
      times_yielded = 0;
      has_turn = action.player();
      action_type = ActionType::play_cards();
      return std::nullopt;
    case ActionKind::RefillHand: {
      if (hand_refills_left == 0) throw util::Failure("no hand refills left");
      --hand_refills_left;
      Player& player = current_player_mut();
      table.discard_cards(player.hand);
      player.hand = table.draw_cards(max_hand_size);
      return std::nullopt;
    }
  }
  return std::nullopt;
}

// An attack (a yield attacks with no cards) runs in this order:
//   1. play_jester: a jester ends the enemy's immunity, so that spades already played against
//      a Spades enemy take effect now, and leaves the player to name who moves next;
//   2. the cards leave the hand for the attack pile;
//   3. use_suit_powers: Spades, Hearts, Diamonds with the damage of the cards, then Clubs
//      doubling the damage; the enemy's suit is immune unless a jester was played;
//   4. with no enemy left the game is won; otherwise deal_damage, and a defeated enemy ends
//      the turn with the same player to attack the next one;
//   5. strike_back by the surviving enemy, except after a jester.
// Each step reads what the one before it left, so the order is the rules'.
template <std::size_t N>
std::optional<GameResult> State<N>::step_play_cards(const Hand& cards) {
  Enemy* enemy = table.current_enemy_mut();
  if (std::any_of(cards.begin(), cards.end(), [](Card c) { return c.is_jester(); })) {
    play_jester(enemy);
  }

  Player& player = current_player_mut();
  player.remove_from_hand(cards);
  table.add_attack_cards(cards);

  const std::uint16_t damage = use_suit_powers(cards, enemy);
  if (enemy == nullptr) return GameResult::Won();
  if (deal_damage(*enemy, damage)) return std::nullopt;
  if (action_type.kind == ActionType::Kind::Jester) return std::nullopt;
  return strike_back(player, *enemy);
}

template <std::size_t N>
void State<N>::play_jester(Enemy* enemy) {
  if (enemy != nullptr) {
    // Spades blocked by a Spades enemy's immunity take effect once the jester lifts it.
    if (!enemy->jester_applied() && enemy->card().suit == CardSuit::Spades) {
      std::uint16_t spades = 0;
      for (Card c : table.attack_cards) {
        if (c.suit == CardSuit::Spades)
          spades = static_cast<std::uint16_t>(spades + c.attack_value());
      }
      enemy->decrease_attack(spades);
    }
    enemy->apply_jester();
  }
  action_type = ActionType::jester();
}

template <std::size_t N>
std::uint16_t State<N>::use_suit_powers(const Hand& cards, Enemy* enemy) {
  const std::uint16_t value = attack_sum(cards);
  const SuitPowers powers = suit_powers(cards, enemy);
  if (powers.spades && enemy != nullptr) enemy->decrease_attack(value);
  if (powers.hearts) {
    util::ChaCha12Rng rng = get_rng();
    table.heal_from_discard(value, rng);
  }
  if (powers.diamonds) draw_for_diamonds(value);
  return attack_damage(value, powers);
}

template <std::size_t N>
void State<N>::draw_for_diamonds(std::uint16_t count) {
  for (std::size_t k = 0; k < count && !table.tavern_deck.empty(); ++k) {
    const std::size_t receiver = diamonds_receiver(
        k, N, max_hand_size, [this](std::size_t i) { return players[i].hand.size(); });
    if (receiver == N) break;  // hands only fill up: no later k draws either
    players[receiver].hand.push_back(*table.draw_card());
  }
}

template <std::size_t N>
bool State<N>::deal_damage(Enemy& enemy, std::uint16_t damage) {
  const int health = enemy.health();
  enemy.take_damage(damage);
  if (!kills(health, damage)) return false;
  if (kills_exactly(health, damage)) {
    table.add_to_top_of_tavern_deck(enemy.card());
  } else {
    table.discard_card(enemy.card());
  }
  table.discard_attack_cards();
  table.next_enemy();
  ++level;
  return true;
}

template <std::size_t N>
std::optional<GameResult> State<N>::strike_back(const Player& player, const Enemy& enemy) {
  if (!pays_counter_attack(player.total_hand_value(), enemy.attack_value())) {
    return GameResult::Lost(level);
  }
  if (enemy.attack_value() == 0) {
    next_player();
    action_type = ActionType::play_cards();
  } else {
    action_type = ActionType::discard(enemy.attack_value());
  }
  return std::nullopt;
}

template <std::size_t N>
std::vector<Action> State<N>::get_action_space() const {
  std::vector<Action> actions;
  append_action_space(actions);
  return actions;
}

template <std::size_t N>
void State<N>::append_action_space(std::vector<Action>& out) const {
  const Player& player = current_player();
  switch (action_type.kind) {
    case ActionType::Kind::PlayCards:
      attack_actions(player, out);
      break;
    case ActionType::Kind::Discard:
      discard_actions(player, action_type.amount, out);
      break;
    case ActionType::Kind::Jester:
      jester_actions(out);
      break;
  }
  if (can_refill()) out.push_back(Action::refill_hand());
}

template <std::size_t N>
void State<N>::attack_actions(const Player& player, std::vector<Action>& out) const {
  const Hand& hand = player.hand;
  for (Card card : hand) out.push_back(Action::play(card));
  for (Card first : hand) {
    if (first.value != CardValue::Ace) continue;
    for (Card second : hand) {
      if (second.value == CardValue::Jester) continue;
      if (second.value == CardValue::Ace && compare_suits(first.suit, second.suit) <= 0) continue;
      out.push_back(Action::animal_combo(first, second));
    }
  }
  for (CardValue value : {CardValue::Two, CardValue::Three, CardValue::Four, CardValue::Five}) {
    ComboCards same;
    for (Card card : hand) {
      if (card.value == value && !same.full()) same.push_back(card);
    }
    for (std::size_t size = 2; size <= same.size(); ++size) {
      if (attack_value(value) * size > 10) break;
      for_each_combination(same.size(), size, [&](const auto& idx, std::size_t k) {
        ComboCards combo;
        for (std::size_t i = 0; i < k; ++i) combo.push_back(same[idx[i]]);
        out.push_back(Action::combo(combo));
      });
    }
  }
  out.push_back(Action::yield());
}

template <std::size_t N>
void State<N>::discard_actions(const Player& player, std::uint8_t amount,
                               std::vector<Action>& out) const {
  const Hand& hand = player.hand;
  const std::size_t n = hand.size();
  // can_cover, spelled out: through the helper g++ 12 made this hot path about 15% slower in
  // solo games (bench/rules_bench). The random games test checks stuck_result (can_cover)
  // against this list.
  if (n == 0 || attack_sum(hand) < amount) return;
  std::array<std::uint16_t, 256> worth;
  subset_worths(hand, worth);
  const SubsetOrder& order = kSubsetOrders[n];
  std::size_t covering = 0;
  for (std::size_t i = 0; i < order.count; ++i) covering += worth[order.masks[i]] >= amount;
  // Sized once and written in place: a solo hand lists up to 255 discards.
  std::size_t next = out.size();
  out.resize(next + covering, Action::yield());
  for (std::size_t i = 0; i < order.count; ++i) {
    const std::uint8_t mask = order.masks[i];
    if (worth[mask] >= amount) out[next++] = Action::discard_subset(hand, mask);
  }
}

template <std::size_t N>
void State<N>::jester_actions(std::vector<Action>& out) const {
  for (std::size_t i = 0; i < N; ++i) out.push_back(Action::change_player({i}));
}

template <std::size_t N>
State<N> State<N>::random_permutation(util::ChaCha12Rng& rng) const {
  State copy = *this;
  std::array<Hand*, N> others{};
  std::size_t count = 0;
  for (std::size_t i = 0; i < N; ++i) {
    if (i != has_turn.id) others[count++] = &copy.players[i].hand;
  }
  copy.table.permute(std::span<Hand* const>(others.data(), count), rng);
  return copy;
}

template <std::size_t N>
void State<N>::make_move(const Action& action) {
  State next = *this;
  if (auto result = next.step(action)) {
    has_ended = result;
  } else {
    *this = next;
  }
}

template <std::size_t N>
std::string State<N>::display_text() const {
  std::string out = "Player: " + util::debug_text(has_turn);
  out += "\nHand:   " + util::debug_text(current_player().hand);
  std::optional<Enemy> enemy;
  if (const Enemy* e = current_enemy()) enemy = *e;
  out += "\nEnemy:  " + util::debug_text(enemy);
  return out;
}

std::vector<Action> prune_bad_moves(std::vector<Action> all_moves) {
  auto bad = [](const Action& a) {
    return a.kind() == ActionKind::Discard &&
           std::any_of(a.cards().begin(), a.cards().end(),
                       [](Card c) { return c.suit == CardSuit::Diamonds; });
  };
  if (std::all_of(all_moves.begin(), all_moves.end(), bad)) return all_moves;
  std::erase_if(all_moves, bad);
  return all_moves;
}

template <std::size_t N>
void write_debug(util::DebugWriter& w, const State<N>& state) {
  w.record("State")
      .field("table", state.table)
      .field("players", util::InlineList<Player, N>::from_range(state.players))
      .field("has_turn", state.has_turn)
      .field("times_yielded", state.times_yielded)
      .field("max_hand_size", state.max_hand_size)
      .field("action_type", state.action_type)
      .field("has_ended", state.has_ended)
      .field("level", state.level)
      .field("rng_seed", state.rng_seed)
      .field("hand_refills_left", state.hand_refills_left)
      .finish();
}

template struct State<1>;
template struct State<2>;
template struct State<3>;
template struct State<4>;
template void write_debug(util::DebugWriter&, const State<1>&);
template void write_debug(util::DebugWriter&, const State<2>&);
template void write_debug(util::DebugWriter&, const State<3>&);
template void write_debug(util::DebugWriter&, const State<4>&);

}  // namespace vardelic::game
