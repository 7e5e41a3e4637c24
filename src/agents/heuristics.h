#pragma once

// Cheap judgements of single actions, shared by the rollout policy and the tree's expansion
// order. They read the whole state they are given, so the search only ever hands them a
// determinised world (a sample), never the real table.
//
// The scores weigh one action against its siblings of the same state and mean nothing across
// states. The scale is roughly "card value": damage that counts towards a kill is worth its
// points, cards spent and the discard a surviving enemy forces cost theirs, and a move that
// loses the game at once scores kLosing.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "game/action.h"
#include "game/state.h"
#include "util/rng.h"

namespace vardelic::agents {

inline constexpr double kLosing = -1000.0;

// The score of one listed action of `state` (any kind). Higher is better.
template <std::size_t N>
double action_score(const game::State<N>& state, const game::Action& action);

// action_score of each of `actions`, listed actions of `state`, into `scores` (resized to
// match): what the attacks of one state share is worked out once.
template <std::size_t N>
void action_scores(const game::State<N>& state, std::span<const game::Action> actions,
                   std::vector<double>& scores);

// The score of discarding the hand positions set in `mask` against an obligation of `amount`:
// the least value over the amount first, then few cards, then keeping Diamonds and jesters.
// A mask that does not cover the amount scores kLosing.
double discard_score(const game::Hand& hand, unsigned mask, unsigned amount);

// The rollout policy: with probability `epsilon` a uniformly random listed action, otherwise
// the best-scored one (the first of equals). Discard obligations are solved over hand subsets
// directly instead of listing up to 255 actions. `buffer` is scratch space reused between
// calls. Returns false when the state offers no action (the game is lost where it stands).
template <std::size_t N>
bool rollout_action(const game::State<N>& state, double epsilon, util::ChaCha12Rng& rng,
                    std::vector<game::Action>& buffer, game::Action& out);

}  // namespace vardelic::agents
