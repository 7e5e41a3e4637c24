#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "game/action.h"
#include "game/state.h"

namespace vardelic::game {

// The action space of a state as an indexed sequence: its length and any single entry, in the
// order get_action_space lists them, or with `pruned` in the order prune_bad_moves leaves them.
// Nothing is listed: a rollout step counts, draws an index and builds that one action, where
// building the list would write up to 255 discards of 32 bytes.
//
// The view reads the hand of the player to move through a pointer, so the state must outlive
// it and stay unchanged while it is used. Throws Failure, as get_action_space does, when the
// player to move is not at the table.
template <std::size_t N>
class IndexedActionSpace {
 public:
  IndexedActionSpace(const State<N>& state, bool pruned);

  // get_action_space().size(), or prune_bad_moves(get_action_space()).size().
  std::size_t size() const { return listed_ + (refill_ ? 1 : 0); }
  bool empty() const { return size() == 0; }
  // The entry at `index` of that list. Throws Failure when index >= size().
  Action operator[](std::size_t index) const;

 private:
  Action attack_action(std::size_t index) const;
  Action discard_action(std::size_t index) const;

  const Hand* hand_;
  std::size_t listed_ = 0;  // entries before the solo RefillHand
  ActionType::Kind kind_;
  std::uint8_t amount_ = 0;
  bool refill_ = false;
  // PlayCards: entries per group (Play, AnimalCombo, Combo; then Yield).
  std::uint8_t animals_ = 0;
  std::uint8_t combos_ = 0;
  // Discard: positions whose subsets are left out (the Diamonds, when pruning keeps only the
  // discards without one), the listed subsets per size and the worth of every subset.
  std::uint8_t excluded_ = 0;
  std::array<std::uint8_t, 9> per_size_{};
  std::array<std::uint16_t, 256> worth_;
};

extern template class IndexedActionSpace<1>;
extern template class IndexedActionSpace<2>;
extern template class IndexedActionSpace<3>;
extern template class IndexedActionSpace<4>;

}  // namespace vardelic::game
