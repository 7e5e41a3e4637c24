#pragma once

// Single-observer information-set Monte-Carlo tree search for one player of the game.
//
// One tree per search thread holds the deciding player's view: a node is the sequence of actions
// taken since the root, whoever took them, and an edge is an action. Every iteration
//
//   1. deals again everything hidden from the observer (game::deal_hidden: the other hands, the
//      tavern deck, the order of the castle deck below the current enemy and the seed of the
//      rules' random steps; the discard pile is face up and stays), giving one world consistent
//      with the observer's game::SeatView (Redeal below: the discard pile pooled with the hidden
//      cards, or no re-deal at all for the clairvoyant yardstick);
//   2. descends from the root through edges whose actions are legal in that world, choosing by
//      UCB1 with availability counts: an edge's exploration term uses the number of times it was
//      available, not its parent's visits, because the legal actions change from world to world;
//   3. adds the first untried legal action of the node it stops at (in heuristic order, or at
//      random without ordering), then plays the world to its end with the rollout policy, or
//      with a horizon until that many more enemies fell, and takes fitted_points
//      (evaluation.h) for the rest;
//   4. backs the points (game::points: enemies defeated, 12 for a win, scaled to [0, 1]) up the
//      path.
//
//   root ─ Play(S5) ─ node ─ Discard(H3) ─ node ...
//        ├ Play(C9) ─ node ...        edge: action, visits, availability, reward sum
//        └ Yield ...
//
// The game is cooperative, so every node maximises the same score whoever moves there.
//
// With Branch::Enemy an edge leads to a chance node first, whose children are told apart by the
// enemy the world faces after the action: a kill reveals the next enemy from a castle order the
// seat does not know, and the decisions after it differ with that enemy's suit and strength.
//
// Progressive widening keeps wide nodes (up to 255 discards) narrow: a node visited n times
// offers only its ceil(kWideningBase * (n + 1)^kWideningExponent) best-ordered actions.
//
// Several threads search independent trees (root parallelisation) with generators of their own;
// the player pools their root statistics. Nothing is shared while they run.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "agents/heuristics.h"
#include "game/action.h"
#include "game/information.h"
#include "game/state.h"
#include "util/rng.h"

namespace vardelic::agents {

enum class RolloutPolicy : std::uint8_t { Heuristic, Random };

// What each iteration deals again before it descends.
enum class Redeal : std::uint8_t {
  Hidden,  // what the seat cannot see (game::deal_hidden); the face-up discard pile stays
  Pooled,  // as Hidden, with the discard pile pooled and dealt with the hidden cards (the
           // re-deal before the seat view existed; it forgets what the pile holds)
  None,    // nothing: the search plays the true state it was given, every hand, the deck order
           // and the rules' seed included. A yardstick of how far perfect information goes,
           // not a fair player.
  Decks,   // the other hands stay as they are; the tavern deck, the castle order below the
           // current enemy and the rules' seed are dealt again. A yardstick of what knowing the
           // other hands is worth (the most a model of the partners could learn), not fair.
};

// How the tree chooses for the other players where they move.
enum class PartnerModel : std::uint8_t {
  Search,     // as for the observer: UCB1 over the edges, every seat maximising the score
  Heuristic,  // the rollout policy (rollout_action, with the settings' epsilon) on the world;
              // the edges it takes still grow the tree below for the observer's later moves
};

// What the tree tells apart below an action besides the action itself.
enum class Branch : std::uint8_t {
  None,   // nothing: one node per sequence of actions, whatever enemy each world dealt next
  Enemy,  // the enemy the action left to face: after a kill the next one, revealed from a
          // castle deck whose order the seat does not know, so the decisions below are made
          // for each enemy apart instead of for all of them at once
};

// The settings of a search; the player validates them (ISMCTSPlayer::validate).
struct ISMCTSSettings {
  std::optional<double> time_ms;            // wall time per decision
  std::optional<std::uint64_t> iterations;  // iterations per decision, over all threads
  std::size_t threads = 1;
  std::optional<std::uint64_t> seed;  // none: every decision seeded from the system's entropy
  // UCB1 constant on scores scaled to [0, 1]. Chosen on paired deals at 2000 iterations a
  // decision: 0.2 beat the earlier 0.5 at every player count, solo by most.
  double exploration = 0.2;
  RolloutPolicy rollout = RolloutPolicy::Heuristic;
  double epsilon = 0.1;  // the heuristic rollout's share of uniformly random moves
  bool widening = true;  // progressive widening and heuristic expansion order
  bool reuse = true;     // keep the subtree of the action played for the next decision
  Redeal redeal = Redeal::Hidden;
  PartnerModel partners = PartnerModel::Search;
  bool remember = true;  // deal the tavern deck as the seat's TavernMemory says
  // Chance nodes for the enemy a kill reveals. Chosen on paired deals at 2000 iterations a
  // decision: +0.31 points solo (300 deals), +0.11, +0.16 and +0.01 with two to four players
  // (600 deals each).
  Branch branch = Branch::Enemy;
  // Rollouts stop once they defeated this many enemies (1 to 11) and score the world by
  // fitted_points: beyond the next kill a rollout's points are mostly the luck of the deal,
  // and playing them out costs most of it. None: every rollout plays to the end.
  std::optional<unsigned> horizon;
  // The constants the heuristic judges actions by (heuristics.h), in the rollouts and the
  // expansion order alike; with a horizon, the estimate fitted to the same policy. Tuned beat
  // First at 20 ms a decision on paired deals: +0.23 points solo, +0.09 with two players, -0.06
  // with three and +0.14 with four (300, 300, 600 and 1200 deals).
  Heuristic heuristic = Heuristic::Tuned;
};

// What a seat can remember of the tavern deck that no single state shows (game/information.h
// treats both as hidden): an enemy killed exactly lies face up on top of the deck, and the cards
// Hearts took from the discard pile (the pile's shrinkage) lie under it. Followed from the views
// a seat saw, it is what that seat may know; re-deals keep those cards where they lie.
//
//   top ─ known cards, the top one last ─ the rest, order unknown ─ bottom groups, highest first
struct TavernMemory {
  std::vector<game::Card> top;
  std::vector<std::vector<game::Card>> bottom;  // each group's own order is unknown

  bool empty() const { return top.empty() && bottom.empty(); }
  std::size_t size() const;
  void clear() {
    top.clear();
    bottom.clear();
  }

  // Follows the game from `before` to `after`, two views of one seat. With `one_step` the seat's
  // own action led from one to the other, and within a step Hearts move cards under the deck,
  // Diamonds draw from its top and an exact kill puts the enemy on top, in that order. Across
  // several steps (other seats moved) only draws can be followed: a heal or an exact kill there
  // forgets everything, as does a view that cannot follow from `before`.
  template <std::size_t N>
  void follow(const game::SeatView<N>& before, const game::SeatView<N>& after, bool one_step);
};

// Re-deals, in a world dealt by game::deal_hidden for `seat`, the hidden cards so that the tavern
// deck holds the remembered cards where `memory` says; the rest of the hidden pool (the other
// hands too, with `hands_hidden`) keeps its dealt order. Returns false, changing nothing, when
// the world's hidden cards do not hold what `memory` remembers.
template <std::size_t N>
bool arrange_tavern(game::State<N>& world, std::size_t seat, bool hands_hidden,
                    const TavernMemory& memory, util::ChaCha12Rng& rng);

inline constexpr double kWideningBase = 2.0;
inline constexpr double kWideningExponent = 0.5;

// Statistics of one root action of one tree.
struct RootStats {
  game::Action action;
  std::uint64_t visits = 0;
  double reward = 0;  // sum of scores, 0 to 12 each
};

// One tree. Not thread-safe: each search thread owns one.
template <std::size_t N>
class ISMCTSTree {
 public:
  explicit ISMCTSTree(const ISMCTSSettings& settings);

  // Runs iterations from the root information set of `root` (the player to move is the
  // observer) until `max_iterations` ran or `deadline` passed; returns how many ran. The clock
  // is read once per iteration, and at least one iteration runs when max_iterations > 0.
  // With `memory`, every world's tavern deck follows it (arrange_tavern).
  std::uint64_t search(const game::State<N>& root, util::ChaCha12Rng& rng,
                       std::uint64_t max_iterations,
                       std::optional<std::chrono::steady_clock::time_point> deadline,
                       const TavernMemory* memory = nullptr);

  // The root's edges, by action_key.
  std::vector<RootStats> root_stats() const;
  // Visits of the root's edges together (what a re-rooted tree brings along).
  std::uint64_t root_visits() const;

  // Makes the child reached by `action` the root, dropping the rest; without such a child the
  // tree is emptied. Returns whether a child was kept.
  // With settings.branch, `next` (the state the action led to) picks the branch.
  bool reroot(const game::Action& action, const game::State<N>& next);
  void clear();
  std::size_t node_count() const { return nodes_.size(); }

 private:
  struct Edge {
    std::uint64_t key;
    game::Action action;
    std::uint32_t child;
    std::uint32_t visits = 0;
    std::uint32_t available = 0;
    double reward = 0;  // sum of scaled scores
  };
  struct Node {
    std::vector<Edge> edges;  // sorted by key
    std::uint32_t visits = 0;
  };

  // With Branch::Enemy every edge's child is a chance node whose edges, keyed by the enemy's
  // card, lead to the decision nodes. Returns the decision node for `world`'s enemy below
  // `chance`, added when new; none when the tree is full.
  std::optional<std::uint32_t> outcome(std::uint32_t chance, const game::State<N>& world);
  // Moves `node`, an edge's child, on to the decision node for `world` (itself without
  // branching); false when the tree is full.
  bool enter_outcome(std::uint32_t& node, const game::State<N>& world);

  void iterate(const game::State<N>& root, util::ChaCha12Rng& rng, const TavernMemory* memory);
  double rollout(game::State<N>& world, util::ChaCha12Rng& rng);
  const HeuristicWeights& weights() const { return heuristic_weights(settings_.heuristic); }

  ISMCTSSettings settings_;
  std::vector<Node> nodes_;
  // Scratch space reused by every iteration.
  std::vector<game::Action> actions_;
  std::vector<double> scores_;
  std::vector<std::pair<double, std::uint32_t>> order_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> path_;
  std::vector<game::Action> rollout_buffer_;
};

// Puts first the `count` entries of `order` (score, position) that a stable sort by descending
// score would put first, in that order; the rest are left in no particular order. The tree
// offers a node only its best few actions, so only those are sorted.
void sort_best(std::vector<std::pair<double, std::uint32_t>>& order, std::size_t count);

// A 64-bit key that tells actions apart: kind, player and up to 8 cards of 7 bits each.
std::uint64_t action_key(const game::Action& action);

extern template class ISMCTSTree<1>;
extern template class ISMCTSTree<2>;
extern template class ISMCTSTree<3>;
extern template class ISMCTSTree<4>;

}  // namespace vardelic::agents
