#include "agents/ismcts_player.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <limits>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "game/information.h"
#include "util/failure.h"

namespace vardelic::agents {

ISMCTSPlayer::ISMCTSPlayer(const ISMCTSSettings& settings) : settings_(settings) {
  if (std::string problem = validate(settings); !problem.empty()) {
    throw std::invalid_argument(problem);
  }
  if (!settings_.time_ms && !settings_.iterations) settings_.iterations = kDefaultIterations;
  if (settings.seed) rng_ = util::ChaCha12Rng::from_seed(*settings.seed);
}

std::string ISMCTSPlayer::validate(const ISMCTSSettings& s) {
  if (s.time_ms && !(*s.time_ms > 0 && std::isfinite(*s.time_ms))) {
    return "time_ms must be a positive number of milliseconds";
  }
  if (s.iterations && *s.iterations == 0) return "iterations must be at least 1";
  if (s.threads < 1 || s.threads > kMaxThreads) {
    return "threads must be between 1 and " + std::to_string(kMaxThreads);
  }
  if (!(s.exploration >= 0 && std::isfinite(s.exploration))) {
    return "exploration must be a number of 0 or more";
  }
  if (!(s.epsilon >= 0 && s.epsilon <= 1)) return "epsilon must be between 0 and 1";
  if (s.horizon && (*s.horizon < 1 || *s.horizon >= game::kEnemies)) {
    return "horizon must be between 1 and 11, or None";
  }
  return {};
}

game::Action ISMCTSPlayer::play(const game::StateEnum& state) {
  return std::visit([this](const auto& s) { return play(s); }, state);
}

template <std::size_t N>
game::Action ISMCTSPlayer::play(const game::State<N>& state) {
  const auto start = std::chrono::steady_clock::now();
  const std::vector<game::Action> actions = state.get_action_space();
  if (actions.empty()) throw util::Failure("No actions available to choose from");

  if (!std::holds_alternative<Memory<N>>(memory_)) memory_.template emplace<Memory<N>>();
  Memory<N>& memory = std::get<Memory<N>>(memory_);
  const std::size_t threads = settings_.threads;
  while (memory.trees.size() < threads) memory.trees.emplace_back(settings_);

  // What followed the last decision: its own step, seen from its seat, and whether the other
  // seats moved since (the state is then not that step's outcome).
  bool reused = false;
  const std::size_t seat = state.has_turn.id;
  bool followed = false;
  if (memory.last_state && memory.last_state->has_turn.id == seat) {
    game::State<N> predicted = *memory.last_state;
    if (!predicted.step(*memory.last_action)) {
      const game::SeatView<N> stepped = game::seat_view(predicted, seat);
      const game::SeatView<N> now = game::seat_view(state, seat);
      const bool next = stepped == now;
      if (settings_.remember) {
        memory.tavern.follow(game::seat_view(*memory.last_state, seat), stepped, true);
        if (!next) memory.tavern.follow(stepped, now, false);
        followed = true;
      }
      if (settings_.reuse && next) {
        for (ISMCTSTree<N>& tree : memory.trees) tree.reroot(*memory.last_action, state);
        reused = true;
      }
    }
  }
  if (!followed) memory.tavern.clear();
  if (!reused) {
    for (ISMCTSTree<N>& tree : memory.trees) tree.clear();
  }
  std::uint64_t reused_visits = 0;
  for (const ISMCTSTree<N>& tree : memory.trees) reused_visits += tree.root_visits();

  const std::uint64_t decision_seed =
      rng_ ? rng_->next_u64() : util::ChaCha12Rng::from_entropy().next_u64();
  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (settings_.time_ms) {
    deadline = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double, std::milli>(*settings_.time_ms));
  }
  const std::uint64_t total =
      settings_.iterations.value_or(std::numeric_limits<std::uint64_t>::max());

  // A forced move needs no search; its tree still follows the game for the next decision.
  std::vector<std::uint64_t> done(threads, 0);
  std::vector<std::exception_ptr> errors(threads);
  if (actions.size() > 1) {
    auto work = [&](std::size_t t) {
      try {
        std::uint64_t stream = t;  // one step of SplitMix64 from the thread's index
        util::ChaCha12Rng rng =
            util::ChaCha12Rng::from_seed(decision_seed ^ util::splitmix64(stream));
        std::uint64_t share =
            settings_.iterations ? total / threads + (t < total % threads) : total;
        done[t] = memory.trees[t].search(state, rng, share, deadline, &memory.tavern);
      } catch (...) {
        errors[t] = std::current_exception();
      }
    };
    std::vector<std::thread> workers;
    workers.reserve(threads - 1);
    for (std::size_t t = 1; t < threads; ++t) workers.emplace_back(work, t);
    work(0);
    for (std::thread& worker : workers) worker.join();
    for (const std::exception_ptr& error : errors) {
      if (error) {
        for (ISMCTSTree<N>& tree : memory.trees) tree.clear();
        memory.last_state.reset();
        memory.tavern.clear();
        std::rethrow_exception(error);
      }
    }
  }

  // Pool the roots by action; every listed action gets an entry, in listed order first.
  std::vector<std::pair<RootStats, std::size_t>> pooled;
  std::unordered_map<std::uint64_t, std::size_t> where;
  for (const game::Action& action : actions) {
    if (where.emplace(action_key(action), pooled.size()).second) {
      pooled.push_back({RootStats{action, 0, 0.0}, pooled.size()});
    }
  }
  for (const ISMCTSTree<N>& tree : memory.trees) {
    for (const RootStats& root : tree.root_stats()) {
      auto it = where.find(action_key(root.action));
      if (it == where.end()) continue;  // a reused tree may know actions no longer listed
      pooled[it->second].first.visits += root.visits;
      pooled[it->second].first.reward += root.reward;
    }
  }
  std::stable_sort(pooled.begin(), pooled.end(), [](const auto& a, const auto& b) {
    const RootStats& x = a.first;
    const RootStats& y = b.first;
    if (x.visits != y.visits) return x.visits > y.visits;
    const double mx = x.visits ? x.reward / x.visits : 0.0;
    const double my = y.visits ? y.reward / y.visits : 0.0;
    return mx > my;
  });
  std::vector<RankedAction> ranked;
  ranked.reserve(pooled.size());
  for (const auto& [root, order] : pooled) {
    ranked.push_back({root.action, root.visits,
                      root.visits ? root.reward / static_cast<double>(root.visits)
                                  : std::numeric_limits<double>::quiet_NaN()});
  }

  memory.last_state = state;
  memory.last_action = ranked.front().action;
  ranked_ = std::move(ranked);
  info_.reused_visits = reused_visits;
  info_.iterations = 0;
  for (std::uint64_t d : done) info_.iterations += d;
  info_.milliseconds =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return ranked_.front().action;
}

template game::Action ISMCTSPlayer::play(const game::State<1>&);
template game::Action ISMCTSPlayer::play(const game::State<2>&);
template game::Action ISMCTSPlayer::play(const game::State<3>&);
template game::Action ISMCTSPlayer::play(const game::State<4>&);

}  // namespace vardelic::agents
