#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "game/action.h"
#include "game/card.h"
#include "game/enemy.h"
#include "game/player.h"
#include "game/rules.h"
#include "game/table.h"
#include "util/debug_text.h"
#include "util/rng.h"

namespace vardelic::game {

// What the player who has the turn owes next: an attack or yield, a discard covering
// `amount` (the surviving enemy's attack), or naming the next player after a jester.
struct ActionType {
  enum class Kind : std::uint8_t { PlayCards, Discard, Jester };
  Kind kind = Kind::PlayCards;
  std::uint8_t amount = 0;  // only for Discard

  static ActionType play_cards() { return {Kind::PlayCards, 0}; }
  static ActionType discard(std::uint8_t amount) { return {Kind::Discard, amount}; }
  static ActionType jester() { return {Kind::Jester, 0}; }
  friend bool operator==(const ActionType&, const ActionType&) = default;
};

void write_debug(util::DebugWriter& w, const ActionType& type);

// The rules' generator: seeded from the 64-bit seed, or from this thread's entropy-seeded
// generator when there is none.
util::ChaCha12Rng new_rng(std::optional<std::uint64_t> seed);

template <std::size_t N>
struct State;

// Whether some discard of `hand` covers `amount` (more than 0): the whole hand's worth reaches it.
inline bool can_cover(const Hand& hand, std::uint16_t amount) {
  return !hand.empty() && pays_counter_attack(attack_sum(hand), amount);
}

// The outcome of applying an action: the successor state, or the end of the game.
template <std::size_t N>
using GameStatus = std::variant<State<N>, GameResult>;

// The complete position of a game of N players (1 to 4): one trivially copyable value with
// no heap storage, copied freely by the search. The rules keep no generator, only `rng_seed`,
// from which every random step derives its own (see get_rng), so two copies of a state give
// the same outcome for the same action.
//
// Actions are not checked against the action space: callers apply listed actions. Failures
// (Failure exceptions) are programming errors; the state they leave is unspecified, which is
// why apply_action works on a copy.
template <std::size_t N>
struct State {
  static_assert(N >= 1 && N <= 4, "one to four players");
  static constexpr std::size_t kPlayers = N;

  Table table;
  std::array<Player, N> players;
  PlayerId has_turn;
  std::size_t times_yielded = 0;  // consecutive yields
  std::uint8_t max_hand_size = 0;
  ActionType action_type;
  std::optional<GameResult> has_ended;  // set only by make_move, when an action ends the game
  std::uint8_t level = 0;               // enemies defeated
  std::uint64_t rng_seed = 0;
  std::uint8_t hand_refills_left = 0;  // solo only

  // Sets up a fresh game: table, then the hands dealt player 0 first, then rng_seed.
  static State create(std::optional<std::uint64_t> seed);

  GameStatus<N> apply_action(const Action& action) const;
  GameStatus<N> play_cards(const Hand& cards) const;
  // The same steps applied in place: the result when the game ended (the state must then be
  // discarded), nothing while it goes on. Cheaper than apply_action in rollouts.
  std::optional<GameResult> step(const Action& action);
  std::optional<GameResult> step_play_cards(const Hand& cards);

  // Throws Failure when has_turn is not below N.
  const Player& current_player() const;
  Player& current_player_mut();
  const Enemy* current_enemy() const { return table.current_enemy(); }
  void next_player() { has_turn = has_turn.next_id(N); }
  std::uint8_t reward() const { return level; }
  // Solo, with a refill left: RefillHand is listed whatever is owed.
  bool can_refill() const { return N == 1 && hand_refills_left > 0; }
  // A generator for one random step: made from rng_seed, whose first output replaces it.
  util::ChaCha12Rng get_rng();

  // The legal actions of the player to move, in their documented order: by action_type,
  // attack_actions, discard_actions or jester_actions; then, solo with refills left,
  // RefillHand last.
  std::vector<Action> get_action_space() const;
  void append_action_space(std::vector<Action>& out) const;
  // Play of every card; AnimalCombo of every Ace with every other non-jester card (a pair of
  // Aces once, higher suit first); Combo of same-value Twos..Fives worth at most 10 by size;
  // Yield last.
  void attack_actions(const Player& player, std::vector<Action>& out) const;
  // Every combination of the hand, by size then in combination order, worth at least amount.
  void discard_actions(const Player& player, std::uint8_t amount, std::vector<Action>& out) const;
  // ChangePlayer of every player in index order.
  void jester_actions(std::vector<Action>& out) const;
  // A copy in which everything the player to move cannot see is dealt again (Table::permute
  // with the other players' hands in index order). This is the designed search player's
  // re-deal and stays as it is: it pools the face-up discard pile with the hidden cards and
  // keeps rng_seed, so its samples are not those of game::deal_hidden (information.h), which
  // deals exactly what game::SeatView hides.
  State random_permutation(util::ChaCha12Rng& rng) const;

  // The search engine's view of the state.
  std::vector<Action> available_moves() const { return get_action_space(); }
  // Applies the action; an action that ends the game leaves the position as it was and only
  // sets has_ended.
  void make_move(const Action& action);

  // "Player: <id>\nHand:   <hand>\nEnemy:  <optional enemy>".
  std::string display_text() const;

  friend bool operator==(const State&, const State&) = default;

 private:
  // The steps of step_play_cards, in the order it runs them (state.cc outlines a turn).
  // Lifts the enemy's immunity (and applies the spades it blocked); the player names who moves.
  void play_jester(Enemy* enemy);
  // Spades, Hearts, Diamonds with the cards' damage; returns the damage after Clubs.
  std::uint16_t use_suit_powers(const Hand& cards, Enemy* enemy);
  // Up to count cards from the tavern deck, the k-th to the first with room from player k on.
  void draw_for_diamonds(std::uint16_t count);
  // True when the enemy fell: its card is discarded (or, killed exactly, tops the tavern
  // deck), the attack cards are discarded and the next enemy comes.
  bool deal_damage(Enemy& enemy, std::uint16_t damage);
  // The game is lost when the hand cannot cover the attack; else a discard is owed, or with
  // an attack of 0 the turn passes.
  std::optional<GameResult> strike_back(const Player& player, const Enemy& enemy);
};

// The end of a position whose player to move has no legal action, though no action ended the
// game: solo, a discard that the hand drawn by the last refill cannot cover. The rules end the
// game there, Lost at the current level; the action list itself stays empty. Nothing while the
// position lists an action. Every table, environment and search asks this, so a stuck position
// ends alike everywhere (a state marked by make_move always lists its ending action).
template <std::size_t N>
std::optional<GameResult> stuck_result(const State<N>& state) {
  if (state.action_type.kind != ActionType::Kind::Discard || state.can_refill() ||
      can_cover(state.current_player().hand, state.action_type.amount)) {
    return std::nullopt;
  }
  return GameResult::Lost(state.level);
}

// Drops every Discard holding a Diamond, unless that would drop everything.
std::vector<Action> prune_bad_moves(std::vector<Action> all_moves);

template <std::size_t N>
void write_debug(util::DebugWriter& w, const State<N>& state);

extern template struct State<1>;
extern template struct State<2>;
extern template struct State<3>;
extern template struct State<4>;

static_assert(std::is_trivially_copyable_v<State<1>> && std::is_trivially_copyable_v<State<4>>,
              "a state is copied as one block");

}  // namespace vardelic::game
