#include "rl/action_ids.h"

#include <algorithm>
#include <cstring>

#include "rl/observation.h"
#include "util/failure.h"

namespace vardelic::rl {
namespace {

using game::ActionKind;
using game::Card;
using game::Hand;

// Each card takes the first slot holding an equal card that no earlier card took. Attacks
// list their cards in any order (AnimalCombo puts the Ace first), so only the set matters;
// taking the first free equal slot gives the lowest id of that set.
std::optional<int> slots_of_set(const Hand& hand, const Hand& cards) {
  unsigned taken = 0;
  for (Card card : cards) {
    std::size_t slot = 0;
    while (slot < hand.size() && ((taken >> slot) & 1u || !(hand[slot] == card))) ++slot;
    if (slot == hand.size()) return std::nullopt;
    taken |= 1u << slot;
  }
  return static_cast<int>(taken);
}

// Discards list their cards in hand order: each card takes the first equal slot after the
// previous card's. Two discards of equal cards in equal order thus get one id, the lowest.
std::optional<int> slots_in_order(const Hand& hand, const Hand& cards) {
  unsigned taken = 0;
  std::size_t slot = 0;
  for (Card card : cards) {
    while (slot < hand.size() && !(hand[slot] == card)) ++slot;
    if (slot == hand.size()) return std::nullopt;
    taken |= 1u << slot++;
  }
  return static_cast<int>(taken);
}

}  // namespace

template <std::size_t N>
std::optional<int> action_id(const game::State<N>& state, const game::Action& action) {
  switch (action.kind()) {
    case ActionKind::Yield:
      return kYieldId;
    case ActionKind::RefillHand:
      return kRefillHandId;
    case ActionKind::ChangePlayer: {
      const std::size_t target = action.player().id;
      if (target >= N) return std::nullopt;
      return kChangePlayerId + static_cast<int>((target + N - state.has_turn.id % N) % N);
    }
    case ActionKind::Play:
    case ActionKind::AnimalCombo:
    case ActionKind::Combo: {
      auto id = slots_of_set(state.current_player().hand, action.cards());
      return id && *id != 0 ? id : std::nullopt;
    }
    case ActionKind::Discard: {
      auto id = slots_in_order(state.current_player().hand, action.cards());
      return id && *id != 0 ? id : std::nullopt;
    }
  }
  return std::nullopt;
}

void LegalActions::clear() {
  // One vectorised fill beats resetting a discard's hundred-odd scattered entries.
  index_.fill(-1);
  ids_.clear();
  actions_.clear();
}

template <std::size_t N>
void LegalActions::build(const game::State<N>& state) {
  clear();
  state.append_action_space(actions_);
  // A hand of distinct cards (every hand but one holding both jesters) maps each card to one
  // slot, so an action's id is the OR of its cards' slot bits; the general matching above is
  // only needed for twins. This runs for every position of every game of a batch.
  const Hand& hand = state.current_player().hand;
  std::array<std::uint8_t, kCardKinds> slot_bit{};
  bool twins = false;
  for (std::size_t slot = 0; slot < hand.size(); ++slot) {
    std::uint8_t& bit = slot_bit[card_kind(hand[slot])];
    twins |= bit != 0;
    bit = static_cast<std::uint8_t>(1u << slot);
  }
  for (std::size_t i = 0; i < actions_.size(); ++i) {
    const game::Action& action = actions_[i];
    std::optional<int> id;
    const ActionKind kind = action.kind();
    if (!twins && (kind == ActionKind::Play || kind == ActionKind::AnimalCombo ||
                   kind == ActionKind::Combo || kind == ActionKind::Discard)) {
      unsigned bits = 0;
      for (Card card : action.cards()) bits |= slot_bit[card_kind(card)];
      id = static_cast<int>(bits);
    } else {
      id = action_id(state, action);
    }
    // The game lists only actions of the hand to move: anything else is a broken rule.
    if (!id || (*id == 0 && kind != ActionKind::Yield)) {
      throw util::Failure("a listed action has no action id: " + game::action_text(action));
    }
    if (index_[*id] >= 0) continue;  // the same id again: the first in list order keeps it
    index_[*id] = static_cast<std::int16_t>(i);
    ids_.push_back(static_cast<std::int16_t>(*id));
  }
}

void LegalActions::write_mask(std::int8_t* out) const {
  std::memset(out, 0, kNumActions);
  for (std::int16_t id : ids_) out[id] = 1;
}

std::string LegalActions::ids_text() const {
  // A discard owed from a full solo hand has over a hundred legal ids: name the first few.
  constexpr std::size_t kShown = 16;
  std::vector<std::int16_t> sorted(ids_.begin(), ids_.end());
  std::sort(sorted.begin(), sorted.end());
  std::string text = "[";
  for (std::size_t i = 0; i < sorted.size() && i < kShown; ++i) {
    if (i != 0) text += ", ";
    text += std::to_string(sorted[i]);
  }
  if (sorted.size() > kShown) text += ", ... " + std::to_string(sorted.size()) + " in all";
  return text + "]";
}

template std::optional<int> action_id(const game::State<1>&, const game::Action&);
template std::optional<int> action_id(const game::State<2>&, const game::Action&);
template std::optional<int> action_id(const game::State<3>&, const game::Action&);
template std::optional<int> action_id(const game::State<4>&, const game::Action&);
template void LegalActions::build(const game::State<1>&);
template void LegalActions::build(const game::State<2>&);
template void LegalActions::build(const game::State<3>&);
template void LegalActions::build(const game::State<4>&);

}  // namespace vardelic::rl
