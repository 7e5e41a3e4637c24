#include "agents/ismcts.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <span>

#include "agents/evaluation.h"
#include "agents/heuristics.h"
#include "game/information.h"

namespace vardelic::agents {
namespace {

using game::Action;
using game::Card;
using game::State;

// Beyond this many nodes a search stops growing its tree and only runs rollouts: a long time
// budget with reuse must not take all the memory.
constexpr std::size_t kMaxNodes = std::size_t{1} << 22;
constexpr std::size_t kMaxRolloutSteps = 1000;

constexpr double kMaxPoints = game::kEnemies;

double scaled(const game::GameResult& result) { return game::points(result) / kMaxPoints; }

// Where the edge keyed `key` is, or would go, among edges sorted by key.
template <typename Edges>
auto edge_position(Edges& edges, std::uint64_t key) {
  return std::lower_bound(edges.begin(), edges.end(), key,
                          [](const auto& edge, std::uint64_t k) { return edge.key < k; });
}

unsigned card_code(Card card) {
  return static_cast<unsigned>(card.suit) * 16 + static_cast<unsigned>(card.value) + 1;
}

// Shuffles `cards` from a canonical order, so the result does not depend on how they lay.
void shuffle_canonical(std::span<Card> cards, util::ChaCha12Rng& rng) {
  std::sort(cards.begin(), cards.end(),
            [](Card a, Card b) { return game::card_kind(a) < game::card_kind(b); });
  util::shuffle(cards, rng);
}

Card card_of_kind(std::size_t kind) {
  if (kind == 52) return game::kJester;
  return Card{static_cast<game::CardSuit>(kind / 13), static_cast<game::CardValue>(kind % 13 + 1)};
}

// A world for one iteration, as settings.redeal says, its tavern deck as `memory` says.
template <std::size_t N>
State<N> deal_world(const State<N>& root, Redeal redeal, const TavernMemory* memory,
                    util::ChaCha12Rng& rng) {
  if (redeal == Redeal::None) return root;
  State<N> world = game::deal_hidden(root, root.has_turn.id, rng);
  if (redeal == Redeal::Decks) {
    for (std::size_t i = 0; i < N; ++i) world.players[i].hand = root.players[i].hand;
    game::Pile& deck = world.table.tavern_deck;
    deck = root.table.tavern_deck;
    shuffle_canonical(std::span<Card>(deck.begin(), deck.end()), rng);
  }
  if (memory != nullptr && !memory->empty() && redeal != Redeal::Pooled) {
    arrange_tavern(world, root.has_turn.id, redeal == Redeal::Hidden, *memory, rng);
  }
  if (redeal == Redeal::Pooled) {
    // The pile joins the hidden cards, pooled in a canonical order: its order is not seen.
    game::Table& table = world.table;
    std::array<Card, 64> pool;
    std::size_t count = 0;
    auto gather = [&](const auto& cards) {
      for (Card card : cards) pool[count++] = card;
    };
    gather(table.discard_pile);
    for (std::size_t i = 0; i < N; ++i) {
      if (i != root.has_turn.id) gather(world.players[i].hand);
    }
    gather(table.tavern_deck);
    shuffle_canonical(std::span<Card>(pool.data(), count), rng);
    std::size_t next = 0;
    auto deal = [&](auto& cards) {
      const std::size_t size = cards.size();
      cards.clear();
      for (std::size_t k = 0; k < size; ++k) cards.push_back(pool[next++]);
    };
    deal(table.discard_pile);
    for (std::size_t i = 0; i < N; ++i) {
      if (i != root.has_turn.id) deal(world.players[i].hand);
    }
    deal(table.tavern_deck);
  }
  return world;
}

}  // namespace

std::size_t TavernMemory::size() const {
  std::size_t count = top.size();
  for (const auto& group : bottom) count += group.size();
  return count;
}

template <std::size_t N>
void TavernMemory::follow(const game::SeatView<N>& before, const game::SeatView<N>& after,
                          bool one_step) {
  // What left the discard pile went under the deck (Hearts).
  std::vector<Card> healed;
  for (std::size_t kind = 0; kind < game::kCardKinds; ++kind) {
    for (unsigned k = after.discard[kind]; k < before.discard[kind]; ++k) {
      healed.push_back(card_of_kind(kind));
    }
  }
  // A defeated enemy that did not reach the discard pile went onto the deck: killed exactly.
  const unsigned gone = before.enemies_left & ~after.enemies_left;
  std::size_t exact = 0;
  std::optional<Card> exact_card;
  for (std::size_t enemy = 0; enemy < game::kEnemyKinds; ++enemy) {
    if (!(gone >> enemy & 1u)) continue;
    const auto value = static_cast<unsigned>(game::CardValue::Jack) + enemy / 4;
    const Card card{static_cast<game::CardSuit>(enemy % 4), static_cast<game::CardValue>(value)};
    if (after.discard[game::card_kind(card)] == 0) {
      ++exact;
      exact_card = card;
    }
  }
  const bool own_kill_only =
      gone == 0 || (before.enemy && gone == 1u << game::enemy_kind(before.enemy->card));
  // The two jesters are alike: one healed while the other reaches the pile unseen.
  const bool jester_may_hide =
      !healed.empty() && before.discard[game::card_kind(game::kJester)] > 0;
  bool unfollowable = (after.enemies_left & ~before.enemies_left) != 0 || after.ended ||
                      (one_step && !own_kill_only) || jester_may_hide;
  if (!one_step) {
    // Over several steps a card can reach the pile and leave it again, and the deck can gain
    // and lose cards, unseen. Without a kill (no enemy card onto the deck) and without a Hearts
    // card newly face up (the last heal's own card would be, in the pile or the attack cards),
    // the deck only lost cards off its top.
    auto hearts = [](const game::SeatView<N>& view) {
      constexpr std::size_t kAce =
          game::card_kind(Card{game::CardSuit::Hearts, game::CardValue::Ace});
      unsigned mask = 0;
      for (std::size_t k = 0; k < 13; ++k) {
        mask |= static_cast<unsigned>(view.discard[kAce + k] > 0) << k;
      }
      for (Card card : view.attack_cards) {
        if (card.suit == game::CardSuit::Hearts) mask |= 1u << (game::card_kind(card) - kAce);
      }
      return mask;
    };
    unfollowable |= gone != 0 || !healed.empty() || after.tavern_size > before.tavern_size ||
                    (hearts(after) & ~hearts(before)) != 0;
  }
  if (unfollowable) {
    clear();
    return;
  }
  const std::size_t heal = healed.size();
  if (heal > 0) bottom.push_back(std::move(healed));
  // Draws take the remembered top cards first, then the unknown middle; one that reaches the
  // groups below leaves their order mixed, so everything is forgotten.
  const auto deck = static_cast<std::ptrdiff_t>(before.tavern_size + heal);
  const std::ptrdiff_t drawn = deck + static_cast<std::ptrdiff_t>(exact) - after.tavern_size;
  const std::ptrdiff_t middle = deck - static_cast<std::ptrdiff_t>(size());
  const std::ptrdiff_t from_top = std::min<std::ptrdiff_t>(drawn, std::ssize(top));
  if (drawn < 0 || middle < 0 || drawn - from_top > middle) {
    clear();
    return;
  }
  top.resize(top.size() - static_cast<std::size_t>(from_top));
  if (exact_card) top.push_back(*exact_card);
  if (size() > after.tavern_size) clear();
}

template <std::size_t N>
bool arrange_tavern(State<N>& world, std::size_t seat, bool hands_hidden,
                    const TavernMemory& memory, util::ChaCha12Rng& rng) {
  game::Pile& deck = world.table.tavern_deck;
  if (memory.empty()) return true;
  if (memory.size() > deck.size()) return false;
  std::array<Card, 64> pool;
  std::size_t count = 0;
  auto gather = [&](const auto& cards) {
    for (Card card : cards) pool[count++] = card;
  };
  for (std::size_t i = 0; i < N; ++i) {
    if (hands_hidden && i != seat) gather(world.players[i].hand);
  }
  gather(deck);
  // Out with the remembered cards; the others keep their dealt order, a uniform one.
  auto take = [&](Card card) {
    Card* const end = pool.data() + count;
    Card* const found = std::find(pool.data(), end, card);
    if (found == end) return false;
    std::copy(found + 1, end, found);
    --count;
    return true;
  };
  for (Card card : memory.top) {
    if (!take(card)) return false;
  }
  for (const auto& group : memory.bottom) {
    for (Card card : group) {
      if (!take(card)) return false;
    }
  }
  std::size_t next = 0;
  for (std::size_t i = 0; i < N; ++i) {
    if (!hands_hidden || i == seat) continue;
    game::Hand& hand = world.players[i].hand;
    const std::size_t size = hand.size();
    hand.clear();
    for (std::size_t k = 0; k < size; ++k) hand.push_back(pool[next++]);
  }
  // Bottom up: the groups, lowest first, each in an order of its own; the middle; the top.
  deck.clear();
  for (auto group = memory.bottom.rbegin(); group != memory.bottom.rend(); ++group) {
    const std::size_t first = deck.size();
    for (Card card : *group) deck.push_back(card);
    util::shuffle(std::span<Card>(deck.begin() + first, deck.end()), rng);
  }
  while (next < count) deck.push_back(pool[next++]);
  for (Card card : memory.top) deck.push_back(card);
  return true;
}

void sort_best(std::vector<std::pair<double, std::uint32_t>>& order, std::size_t count) {
  // Positions are distinct, so breaking ties by position is the stable order.
  auto before = [](const auto& x, const auto& y) {
    return x.first > y.first || (x.first == y.first && x.second < y.second);
  };
  const auto end = order.begin() + static_cast<std::ptrdiff_t>(std::min(count, order.size()));
  if (end != order.end()) std::nth_element(order.begin(), end, order.end(), before);
  std::sort(order.begin(), end, before);
}

std::uint64_t action_key(const Action& action) {
  std::uint64_t key = static_cast<std::uint64_t>(action.kind()) |
                      (static_cast<std::uint64_t>(action.player().id & 7) << 3);
  unsigned shift = 6;
  for (Card card : action.cards()) {
    key |= static_cast<std::uint64_t>(card_code(card)) << shift;
    shift += 7;
  }
  return key;
}

template <std::size_t N>
ISMCTSTree<N>::ISMCTSTree(const ISMCTSSettings& settings) : settings_(settings) {
  clear();
}

template <std::size_t N>
void ISMCTSTree<N>::clear() {
  nodes_.clear();
  nodes_.emplace_back();
}

template <std::size_t N>
std::uint64_t ISMCTSTree<N>::search(const State<N>& root, util::ChaCha12Rng& rng,
                                    std::uint64_t max_iterations,
                                    std::optional<std::chrono::steady_clock::time_point> deadline,
                                    const TavernMemory* memory) {
  std::uint64_t done = 0;
  while (done < max_iterations) {
    if (deadline && done > 0 && std::chrono::steady_clock::now() >= *deadline) break;
    iterate(root, rng, memory);
    ++done;
  }
  return done;
}

template <std::size_t N>
void ISMCTSTree<N>::iterate(const State<N>& root, util::ChaCha12Rng& rng,
                            const TavernMemory* memory) {
  State<N> world = deal_world(root, settings_.redeal, memory, rng);
  path_.clear();
  std::uint32_t node = 0;
  double reward = 0;
  for (;;) {
    if (std::optional<game::GameResult> stuck = game::stuck_result(world)) {
      reward = scaled(*stuck);
      break;
    }
    if (settings_.partners == PartnerModel::Heuristic && world.has_turn.id != root.has_turn.id) {
      Action action = Action::yield();
      if (!rollout_action(world, settings_.epsilon, rng, rollout_buffer_, action, weights())) {
        reward = world.reward() / kMaxPoints;
        break;
      }
      ++nodes_[node].visits;
      const std::uint64_t key = action_key(action);
      auto& edges = nodes_[node].edges;
      auto edge = edge_position(edges, key);
      std::optional<std::uint32_t> child;
      const auto index = static_cast<std::uint32_t>(edge - edges.begin());
      if (edge != edges.end() && edge->key == key) {
        ++edge->available;
        path_.emplace_back(node, index);
        child = edge->child;
      } else if (nodes_.size() < kMaxNodes) {
        // A new edge is this iteration's expansion: a rollout follows it.
        edges.insert(edge, Edge{key, action, static_cast<std::uint32_t>(nodes_.size()), 0, 1, 0.0});
        path_.emplace_back(node, index);
        nodes_.emplace_back();  // invalidates `edges`
      }
      if (std::optional<game::GameResult> result = world.step(action)) {
        reward = scaled(*result);
        break;
      }
      if (!child) {
        reward = rollout(world, rng);
        break;
      }
      node = *child;
      if (!enter_outcome(node, world)) {
        reward = rollout(world, rng);  // the tree is full
        break;
      }
      continue;
    }
    actions_.clear();
    world.append_action_space(actions_);
    std::size_t allowed = actions_.size();
    order_.clear();
    if (settings_.widening) {
      action_scores(world, std::span<const Action>(actions_), scores_, weights());
    }
    for (std::uint32_t i = 0; i < actions_.size(); ++i) {
      order_.emplace_back(settings_.widening ? scores_[i] : 0.0, i);
    }
    if (settings_.widening) {
      const double width =
          std::ceil(kWideningBase * std::pow(nodes_[node].visits + 1.0, kWideningExponent));
      allowed = std::min(allowed, static_cast<std::size_t>(width));
      sort_best(order_, allowed);
    }
    Node& current = nodes_[node];
    ++current.visits;

    std::size_t best = current.edges.size();
    double best_value = -std::numeric_limits<double>::infinity();
    std::size_t untried = actions_.size();
    std::uint32_t untried_seen = 0;
    for (std::size_t k = 0; k < allowed; ++k) {
      const std::uint32_t index = order_[k].second;
      const std::uint64_t key = action_key(actions_[index]);
      auto edge = edge_position(current.edges, key);
      if (edge == current.edges.end() || edge->key != key) {
        // In heuristic order the first untried action is expanded; otherwise one at random
        // (reservoir sampling over the untried ones).
        if (settings_.widening) {
          if (untried == actions_.size()) untried = index;
        } else if (rng.gen_below(++untried_seen) == 0) {
          untried = index;
        }
        continue;
      }
      ++edge->available;
      const double value =
          edge->reward / edge->visits +
          settings_.exploration *
              std::sqrt(std::log(static_cast<double>(edge->available)) / edge->visits);
      if (value > best_value) {
        best_value = value;
        best = static_cast<std::size_t>(edge - current.edges.begin());
      }
    }

    if (untried < actions_.size() && nodes_.size() < kMaxNodes) {
      const Action action = actions_[untried];
      const auto child = static_cast<std::uint32_t>(nodes_.size());
      const std::uint64_t key = action_key(action);
      const auto edge = edge_position(current.edges, key);
      path_.emplace_back(node, static_cast<std::uint32_t>(edge - current.edges.begin()));
      current.edges.insert(edge, Edge{key, action, child, 0, 1, 0.0});
      nodes_.emplace_back();  // invalidates `current`
      if (std::optional<game::GameResult> result = world.step(action)) {
        reward = scaled(*result);
      } else {
        reward = rollout(world, rng);
      }
      break;
    }
    if (best == current.edges.size()) {
      // Only untried actions, and no room left to add one: finish this world by rollout.
      reward = rollout(world, rng);
      break;
    }
    path_.emplace_back(node, static_cast<std::uint32_t>(best));
    const Edge& edge = current.edges[best];
    if (std::optional<game::GameResult> result = world.step(edge.action)) {
      reward = scaled(*result);
      break;
    }
    node = edge.child;
    if (!enter_outcome(node, world)) {
      reward = rollout(world, rng);  // the tree is full
      break;
    }
  }
  for (const auto& [n, e] : path_) {
    Edge& edge = nodes_[n].edges[e];
    ++edge.visits;
    edge.reward += reward;
  }
}

template <std::size_t N>
double ISMCTSTree<N>::rollout(State<N>& world, util::ChaCha12Rng& rng) {
  Action action = Action::yield();
  const unsigned stop = settings_.horizon ? world.level + *settings_.horizon : game::kEnemies;
  for (std::size_t step = 0; step < kMaxRolloutSteps; ++step) {
    if (world.level >= stop && world.level < game::kEnemies) {
      return fitted_points(world, settings_.heuristic) / kMaxPoints;
    }
    if (std::optional<game::GameResult> stuck = game::stuck_result(world)) return scaled(*stuck);
    if (settings_.rollout == RolloutPolicy::Heuristic) {
      if (!rollout_action(world, settings_.epsilon, rng, rollout_buffer_, action, weights())) {
        break;
      }
    } else {
      rollout_buffer_.clear();
      world.append_action_space(rollout_buffer_);
      if (rollout_buffer_.empty()) break;
      action = rollout_buffer_[rng.gen_below(rollout_buffer_.size())];
    }
    if (std::optional<game::GameResult> result = world.step(action)) return scaled(*result);
  }
  return world.reward() / kMaxPoints;
}

template <std::size_t N>
std::optional<std::uint32_t> ISMCTSTree<N>::outcome(std::uint32_t chance, const State<N>& world) {
  const game::Enemy* enemy = world.current_enemy();
  const std::uint64_t key = enemy != nullptr ? card_code(enemy->card()) : 0;
  auto& edges = nodes_[chance].edges;
  const auto edge = edge_position(edges, key);
  if (edge != edges.end() && edge->key == key) return edge->child;
  if (nodes_.size() >= kMaxNodes) return std::nullopt;
  const auto child = static_cast<std::uint32_t>(nodes_.size());
  edges.insert(edge, Edge{key, Action::yield(), child, 0, 0, 0.0});
  nodes_.emplace_back();
  return child;
}

template <std::size_t N>
bool ISMCTSTree<N>::enter_outcome(std::uint32_t& node, const State<N>& world) {
  if (settings_.branch == Branch::None) return true;
  const std::optional<std::uint32_t> seen = outcome(node, world);
  if (seen) node = *seen;
  return seen.has_value();
}

template <std::size_t N>
std::vector<RootStats> ISMCTSTree<N>::root_stats() const {
  std::vector<RootStats> stats;
  for (const Edge& edge : nodes_[0].edges) {
    stats.push_back({edge.action, edge.visits, edge.reward * kMaxPoints});
  }
  return stats;
}

template <std::size_t N>
std::uint64_t ISMCTSTree<N>::root_visits() const {
  std::uint64_t visits = 0;
  for (const Edge& edge : nodes_[0].edges) visits += edge.visits;
  return visits;
}

template <std::size_t N>
bool ISMCTSTree<N>::reroot(const Action& action, const State<N>& next) {
  const std::uint64_t key = action_key(action);
  const auto& edges = nodes_[0].edges;
  const auto edge = edge_position(edges, key);
  if (edge == edges.end() || edge->key != key) {
    clear();
    return false;
  }
  std::uint32_t root = edge->child;
  if (!enter_outcome(root, next)) {
    clear();
    return false;
  }
  // Copy the subtree breadth first into a fresh vector, renumbering the children.
  std::vector<Node> kept;
  kept.push_back(std::move(nodes_[root]));
  for (std::size_t done = 0; done < kept.size(); ++done) {
    // By index: the push_back below may move kept[done].
    for (std::size_t j = 0; j < kept[done].edges.size(); ++j) {
      const std::uint32_t old = kept[done].edges[j].child;
      kept[done].edges[j].child = static_cast<std::uint32_t>(kept.size());
      Node moved = std::move(nodes_[old]);
      kept.push_back(std::move(moved));
    }
  }
  nodes_ = std::move(kept);
  return true;
}

#define VARDELIC_INSTANTIATE(N)                                                                 \
  template class ISMCTSTree<N>;                                                                 \
  template void TavernMemory::follow(const game::SeatView<N>&, const game::SeatView<N>&, bool); \
  template bool arrange_tavern(State<N>&, std::size_t, bool, const TavernMemory&,               \
                               util::ChaCha12Rng&);
VARDELIC_INSTANTIATE(1)
VARDELIC_INSTANTIATE(2)
VARDELIC_INSTANTIATE(3)
VARDELIC_INSTANTIATE(4)
#undef VARDELIC_INSTANTIATE

}  // namespace vardelic::agents
