#include "agents/heuristics.h"

#include <algorithm>
#include <array>
#include <bit>
#include <optional>

namespace vardelic::agents {
namespace {

using game::Action;
using game::ActionKind;
using game::Card;
using game::CardSuit;
using game::Enemy;
using game::State;

// What a jester kept in hand is worth: it cancels a counter-attack later.
constexpr double kJesterCost = 12.0;
// A lowered attack helps every later turn against the same enemy.
constexpr double kSpadeWeight = 1.0;
// The average attack value of a number card, for refills.
constexpr double kMeanCardValue = 5.5;

// Bits set in each 8-bit mask: std::popcount is a library call without a popcnt target.
constexpr std::array<std::uint8_t, 256> kBitCounts = [] {
  std::array<std::uint8_t, 256> counts{};
  for (unsigned mask = 1; mask < 256; ++mask) {
    counts[mask] = static_cast<std::uint8_t>(counts[mask & (mask - 1)] + 1);
  }
  return counts;
}();

double uniform(util::ChaCha12Rng& rng) { return rng.next_u32() * 0x1.0p-32; }

double discard_penalty(unsigned worth, unsigned amount, unsigned cards, unsigned diamonds,
                       unsigned jesters) {
  return -static_cast<double>(worth - amount) - 0.25 * cards - 0.5 * diamonds - 6.0 * jesters;
}

// The cards the Diamonds power deals for `damage`: how many in all, and the attack value of
// those the player to move receives (the hand of the attacker already lacks the played cards).
template <std::size_t N>
void diamond_draws(const State<N>& state, unsigned played, unsigned damage, unsigned& drawn,
                   unsigned& own_value) {
  std::array<std::size_t, N> sizes{};
  for (std::size_t i = 0; i < N; ++i) sizes[i] = state.players[i].hand.size();
  sizes[state.has_turn.id] -= played;
  const game::Pile& tavern = state.table.tavern_deck;
  drawn = 0;
  own_value = 0;
  for (unsigned k = 0; k < damage && drawn < tavern.size(); ++k) {
    const std::size_t receiver = game::diamonds_receiver(
        k, N, state.max_hand_size, [&sizes](std::size_t i) { return sizes[i]; });
    if (receiver == N) break;
    ++sizes[receiver];
    const Card card = tavern[tavern.size() - 1 - drawn];
    if (receiver == state.has_turn.id) own_value += card.attack_value();
    ++drawn;
  }
}

// What every attack of one state shares, worked out once for all of them.
template <std::size_t N>
struct AttackContext {
  AttackContext(const State<N>& state, const HeuristicWeights& weights)
      : weights(weights),
        enemy(state.current_enemy()),
        hand_value(state.current_player().total_hand_value()),
        attack(enemy ? enemy->attack_value() : 0),
        health(enemy ? enemy->health() : 0) {}

  const HeuristicWeights& weights;
  const Enemy* enemy;
  int hand_value;
  int attack;
  int health;
};

template <std::size_t N>
double attack_score(const State<N>& state, const AttackContext<N>& context, const Action& action) {
  const Enemy* enemy = context.enemy;
  if (enemy == nullptr) return 0.0;  // every attack or yield wins now
  const int hand_value = context.hand_value;
  const int attack = context.attack;
  const HeuristicWeights& w = context.weights;

  if (action.kind() == ActionKind::Yield) {
    if (state.times_yielded + 1 >= N || !game::pays_counter_attack(hand_value, attack)) {
      return kLosing;
    }
    return -attack - w.turn_cost - 2.0;
  }

  const game::Hand& cards = action.cards();
  if (std::any_of(cards.begin(), cards.end(), [](Card c) { return c.is_jester(); })) {
    // No counter-attack follows a jester, and it lifts the enemy's immunity.
    return -w.turn_cost - kJesterCost;
  }

  const std::uint16_t card_value = game::attack_sum(cards);
  const int value = card_value;
  const game::SuitPowers powers = game::suit_powers(cards, enemy);
  const int damage = game::attack_damage(card_value, powers);
  const int health = context.health;

  double bonus = 0.0;
  if (powers.hearts) {
    bonus +=
        w.heal_weight * std::min<int>(value, static_cast<int>(state.table.discard_pile.size()));
  }
  unsigned drawn = 0, own_value = 0;
  if (powers.diamonds) {
    diamond_draws(state, static_cast<unsigned>(cards.size()), static_cast<unsigned>(value), drawn,
                  own_value);
    bonus += w.draw_weight * drawn;
  }

  if (game::kills(health, damage)) {
    // Overkill is wasted; an exact kill puts the enemy's card on top of the tavern deck.
    double exact =
        game::kills_exactly(health, damage) ? 0.4 * game::attack_value(enemy->card().value) : 0.0;
    return health - value + w.kill_bonus + exact + bonus;
  }
  const int attack_after = powers.spades ? std::max(0, attack - value) : attack;
  if (!game::pays_counter_attack(hand_value - value + static_cast<int>(own_value), attack_after)) {
    return kLosing + damage;
  }
  return damage - value - attack_after - w.turn_cost + kSpadeWeight * (attack - attack_after) +
         bonus;
}

template <std::size_t N>
double refill_score(const State<N>& state) {
  const double fresh =
      kMeanCardValue * std::min<std::size_t>(state.max_hand_size, state.table.tavern_deck.size());
  return fresh - state.current_player().total_hand_value() - 30.0;
}

}  // namespace

double discard_score(const game::Hand& hand, unsigned mask, unsigned amount) {
  unsigned worth = 0, cards = 0, diamonds = 0, jesters = 0;
  for (unsigned m = mask; m != 0; m &= m - 1) {
    const Card card = hand[std::countr_zero(m)];
    worth += card.attack_value();
    ++cards;
    diamonds += card.suit == CardSuit::Diamonds;
    jesters += card.is_jester();
  }
  if (worth < amount) return kLosing;
  return discard_penalty(worth, amount, cards, diamonds, jesters);
}

template <std::size_t N>
double action_score(const State<N>& state, const Action& action, const HeuristicWeights& weights) {
  switch (action.kind()) {
    case ActionKind::Play:
    case ActionKind::AnimalCombo:
    case ActionKind::Combo:
    case ActionKind::Yield:
      return attack_score(state, AttackContext<N>(state, weights), action);
    case ActionKind::Discard: {
      unsigned diamonds = 0, jesters = 0;
      for (Card c : action.cards()) {
        diamonds += c.suit == CardSuit::Diamonds;
        jesters += c.is_jester();
      }
      const unsigned worth = game::attack_sum(action.cards());
      const unsigned amount = state.action_type.amount;
      if (worth < amount) return kLosing;
      return discard_penalty(worth, amount, static_cast<unsigned>(action.cards().size()), diamonds,
                             jesters);
    }
    case ActionKind::ChangePlayer: {
      // Hand the turn to whoever holds the most.
      if (action.player().id >= N) return kLosing;
      const game::Player& next = state.players[action.player().id];
      return next.total_hand_value() + 0.5 * next.hand.size();
    }
    case ActionKind::RefillHand:
      return refill_score(state);
  }
  return kLosing;
}

namespace {

// Scores the actions of one state as action_score does, with what its attacks share worked
// out once for all of them.
template <std::size_t N>
class StateScorer {
 public:
  StateScorer(const State<N>& state, const HeuristicWeights& weights)
      : state_(state),
        weights_(weights),
        context_(state.action_type.kind == game::ActionType::Kind::PlayCards
                     ? std::optional<AttackContext<N>>(std::in_place, state, weights)
                     : std::nullopt) {}

  double operator()(const Action& action) const {
    // Every listed action of an attack is one but the refill (action_score's dispatch).
    if (context_ && action.kind() != ActionKind::RefillHand) {
      return attack_score(state_, *context_, action);
    }
    return action_score(state_, action, weights_);
  }

 private:
  const State<N>& state_;
  const HeuristicWeights& weights_;
  std::optional<AttackContext<N>> context_;
};

}  // namespace

template <std::size_t N>
void action_scores(const State<N>& state, std::span<const Action> actions,
                   std::vector<double>& scores, const HeuristicWeights& weights) {
  const StateScorer<N> score(state, weights);
  scores.resize(actions.size());
  for (std::size_t i = 0; i < actions.size(); ++i) scores[i] = score(actions[i]);
}

template <std::size_t N>
bool rollout_action(const State<N>& state, double epsilon, util::ChaCha12Rng& rng,
                    std::vector<Action>& buffer, Action& out, const HeuristicWeights& weights) {
  const bool can_refill = state.can_refill();
  if (state.action_type.kind == game::ActionType::Kind::Discard) {
    const game::Hand& hand = state.current_player().hand;
    const unsigned amount = state.action_type.amount;
    const unsigned n = static_cast<unsigned>(hand.size());
    std::array<std::uint16_t, 256> worth;
    game::subset_worths(hand, worth);
    if (!game::can_cover(hand, amount)) {
      if (!can_refill) return false;
      out = Action::refill_hand();
      return true;
    }
    unsigned chosen = 0;
    if (epsilon > 0 && uniform(rng) < epsilon) {
      std::array<std::uint8_t, 255> covering;
      unsigned count = 0;
      for (unsigned mask = 1; mask < (1u << n); ++mask) {
        if (worth[mask] >= amount) covering[count++] = static_cast<std::uint8_t>(mask);
      }
      chosen = covering[rng.gen_below(count)];
    } else {
      // discard_score for every mask, from the subset sums and bit masks of the suits instead
      // of a walk over the cards of each mask (the same numbers, a fraction of the work).
      unsigned diamond_bits = 0, jester_bits = 0;
      for (unsigned i = 0; i < n; ++i) {
        diamond_bits |= static_cast<unsigned>(hand[i].suit == CardSuit::Diamonds) << i;
        jester_bits |= static_cast<unsigned>(hand[i].is_jester()) << i;
      }
      double best = kLosing - 1.0;
      for (unsigned mask = 1; mask < (1u << n); ++mask) {
        if (worth[mask] < amount) continue;
        const double score =
            discard_penalty(worth[mask], amount, kBitCounts[mask], kBitCounts[mask & diamond_bits],
                            kBitCounts[mask & jester_bits]);
        if (score > best) {
          best = score;
          chosen = mask;
        }
      }
    }
    out = Action::discard_subset(hand, chosen);
    return true;
  }

  buffer.clear();
  state.append_action_space(buffer);
  if (buffer.empty()) return false;
  if (epsilon > 0 && uniform(rng) < epsilon) {
    out = buffer[rng.gen_below(buffer.size())];
    return true;
  }
  std::size_t best_index = 0;
  double best = kLosing - 1.0;
  std::size_t refill_index = buffer.size();
  const StateScorer<N> score_of(state, weights);
  for (std::size_t i = 0; i < buffer.size(); ++i) {
    if (buffer[i].kind() == ActionKind::RefillHand) {
      refill_index = i;
      continue;
    }
    const double score = score_of(buffer[i]);
    if (score > best) {
      best = score;
      best_index = i;
    }
  }
  // A refill is the way out of a hand that cannot survive, or of a nearly spent one.
  if (refill_index < buffer.size() && (best <= kLosing / 2 || refill_score(state) > best)) {
    best_index = refill_index;
  }
  out = buffer[best_index];
  return true;
}

#define VARDELIC_INSTANTIATE(N)                                                                   \
  template double action_score(const State<N>&, const Action&, const HeuristicWeights&);          \
  template void action_scores(const State<N>&, std::span<const Action>, std::vector<double>&,     \
                              const HeuristicWeights&);                                           \
  template bool rollout_action(const State<N>&, double, util::ChaCha12Rng&, std::vector<Action>&, \
                               Action&, const HeuristicWeights&);
VARDELIC_INSTANTIATE(1)
VARDELIC_INSTANTIATE(2)
VARDELIC_INSTANTIATE(3)
VARDELIC_INSTANTIATE(4)
#undef VARDELIC_INSTANTIATE

}  // namespace vardelic::agents
