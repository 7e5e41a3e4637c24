#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "game/action.h"
#include "game/state.h"

namespace vardelic::rl {

// Action ids: one fixed numbering of every move, whatever the state and the player count.
//
//   0         Yield
//   1..255    a set of the acting player's hand slots, bit i = the i-th card in hand order:
//             while attacking, the single play, Ace pair or same-value combo of exactly those
//             cards; while a discard is owed, the discard of those cards (in hand order)
//   256       RefillHand
//   257..260  ChangePlayer to the player 0..3 places after the one choosing
//
// The legal ids of a state are those of its listed actions (State::get_action_space). Where
// two listed actions have one id (two Play of the two jesters), the id means the first in list
// order; where two ids give equal actions (a discard that can take either of two jesters), only
// the lowest is legal. So the legal ids are exactly one per distinct legal action, and every
// other id is refused.
inline constexpr std::size_t kNumActions = 261;
inline constexpr int kYieldId = 0;
inline constexpr int kRefillHandId = 256;
inline constexpr int kChangePlayerId = 257;  // + places after the chooser, 0..3

// The legal actions of one state, listed in the game's order, with their ids both ways. Built
// once per position and reused: a rebuild allocates nothing once the list has grown to size.
class LegalActions {
 public:
  LegalActions() { index_.fill(-1); }

  template <std::size_t N>
  void build(const game::State<N>& state);
  // No legal action at all (a finished game).
  void clear();

  bool is_legal(std::int64_t id) const {
    return id >= 0 && id < static_cast<std::int64_t>(kNumActions) && index_[id] >= 0;
  }
  // The action of a legal id.
  const game::Action& action(std::int64_t id) const { return actions_[index_[id]]; }
  // The legal ids, in the order of their actions in the game's list.
  std::span<const std::int16_t> ids() const { return ids_; }
  // The game's whole list, duplicates included.
  const std::vector<game::Action>& actions() const { return actions_; }
  bool empty() const { return ids_.empty(); }

  // 1 at every legal id, 0 elsewhere: kNumActions bytes.
  void write_mask(std::int8_t* out) const;
  // "[0, 3, 17]", ascending, the first 16 only: for error messages.
  std::string ids_text() const;

 private:
  std::vector<game::Action> actions_;
  std::vector<std::int16_t> ids_;
  std::array<std::int16_t, kNumActions> index_;  // position in actions_, or -1
};

// The id of an action listed for `state`, or nullopt when its cards are not in the hand of
// the player to move (an action the state does not list).
template <std::size_t N>
std::optional<int> action_id(const game::State<N>& state, const game::Action& action);

}  // namespace vardelic::rl
