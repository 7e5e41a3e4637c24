// Search speed and tree memory: playouts per second from fresh seeded states with the base UCT
// rule, for 2 and 4 players, rollout heuristics on and off, 1 and 2 worker threads; bare
// rollouts per second from the same states, through the list-building reference and through
// the search's counting rollout; the engine's own scaling on connect four, whose rollouts cost
// about as much as the engine's work per playout; and the heap bytes the tree keeps per node.
// Prints a table; with --json PATH, also writes the headline figures there as one JSON object.
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#include "game/state.h"
#include "players/mcts/policy.h"
#include "players/mcts/search_config.h"
#include "testing/connect_four.h"
#include "util/rng.h"

namespace {

// Live heap bytes, counted only while `counting` is set (single-threaded measurement), so the
// timed runs pay one relaxed load per allocation and nothing else.
std::atomic<bool> counting{false};
std::atomic<int64_t> live_bytes{0};

void* counted_alloc(std::size_t size, std::size_t align) {
  if (size == 0) size = 1;
  void* p = align <= alignof(std::max_align_t)
                ? std::malloc(size)
                : std::aligned_alloc(align, (size + align - 1) / align * align);
  if (p == nullptr) throw std::bad_alloc();
  if (counting.load(std::memory_order_relaxed)) {
    live_bytes.fetch_add(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
  }
  return p;
}

void counted_free(void* p) noexcept {
  if (p == nullptr) return;
  if (counting.load(std::memory_order_relaxed)) {
    live_bytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
  }
  std::free(p);
}

}  // namespace

void* operator new(std::size_t size) { return counted_alloc(size, 0); }
void* operator new[](std::size_t size) { return counted_alloc(size, 0); }
void* operator new(std::size_t size, std::align_val_t align) {
  return counted_alloc(size, static_cast<std::size_t>(align));
}
void* operator new[](std::size_t size, std::align_val_t align) {
  return counted_alloc(size, static_cast<std::size_t>(align));
}
void operator delete(void* p) noexcept { counted_free(p); }
void operator delete[](void* p) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_free(p); }
void operator delete(void* p, std::align_val_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { counted_free(p); }

namespace {

using vardelic::game::State;
using vardelic::players::mcts::MyManager;
using vardelic::players::mcts::policy_from_number;

constexpr uint32_t kPlayouts = 20000;
constexpr int kSeeds = 3;
constexpr int kRounds = 5;

// Playouts per second over kSeeds fresh games; only the parallel runs are timed.
template <std::size_t N, bool H>
double playouts_per_second(std::size_t threads) {
  const auto policy = *policy_from_number(std::nullopt);
  double seconds = 0;
  for (int seed = 0; seed < kSeeds; ++seed) {
    MyManager<N, H> manager =
        vardelic::players::mcts::make_manager<N, H>(State<N>::create(1000 + seed), policy);
    const auto start = std::chrono::steady_clock::now();
    manager.playout_n_parallel(kPlayouts, threads);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  return kPlayouts * kSeeds / seconds;
}

struct Speeds {
  double one_thread = 0;
  double two_threads = 0;
};

// The best of kRounds for 1 and for 2 threads, measured alternately so that a slow spell of a
// shared machine hits both alike.
template <std::size_t N, bool H>
Speeds best_speeds() {
  Speeds best;
  for (int round = 0; round < kRounds; ++round) {
    best.one_thread = std::max(best.one_thread, playouts_per_second<N, H>(1));
    best.two_threads = std::max(best.two_threads, playouts_per_second<N, H>(2));
  }
  return best;
}

// Bare rollouts per second from the searches' root states (2 players, heuristics on), each
// rollout i with the generator seeded i, for about `seconds`: through the list-building
// reference or the search's rollout.
template <bool listing>
double rollouts_per_second(double seconds) {
  State<2> states[kSeeds];
  for (int seed = 0; seed < kSeeds; ++seed) states[seed] = State<2>::create(1000 + seed);
  uint64_t rollouts = 0;
  int64_t checksum = 0;
  const auto start = std::chrono::steady_clock::now();
  double elapsed = 0;
  while (elapsed < seconds) {
    for (int i = 0; i < 256; ++i, ++rollouts) {
      vardelic::util::ChaCha12Rng rng = vardelic::util::ChaCha12Rng::from_seed(rollouts);
      const State<2>& state = states[rollouts % kSeeds];
      const auto result = listing ? vardelic::players::mcts::list_rollout<true>(state, rng)
                                  : vardelic::players::mcts::rollout<true>(state, rng);
      checksum += vardelic::players::mcts::result_value(result);
    }
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  if (checksum < 0) std::abort();  // keeps the rollouts from being optimised away
  return static_cast<double>(rollouts) / elapsed;
}

struct RolloutSpeeds {
  double listing = 0;
  double counting = 0;
};

// The best of kRounds for each rollout, measured alternately.
RolloutSpeeds best_rollout_speeds() {
  RolloutSpeeds best;
  for (int round = 0; round < kRounds; ++round) {
    best.listing = std::max(best.listing, rollouts_per_second<true>(0.4));
    best.counting = std::max(best.counting, rollouts_per_second<false>(0.4));
  }
  return best;
}

using ToyMCTS = vardelic::testing::ConnectFourMCTS<vardelic::players::mcts::MyPolicy>;
constexpr uint32_t kToyPlayouts = 200000;

// Connect-four playouts per second from the opening, base UCT rule with constant 1 (rewards
// are -1 to 1).
double toy_playouts_per_second(std::size_t threads) {
  const vardelic::players::mcts::MyPolicy policy(vardelic::players::mcts::UCTBase{1.0});
  double seconds = 0;
  for (int seed = 0; seed < kSeeds; ++seed) {
    vardelic::search::MCTSManager<ToyMCTS> manager(vardelic::testing::ConnectFour{}, ToyMCTS{}, {},
                                                   policy, {});
    const auto start = std::chrono::steady_clock::now();
    manager.playout_n_parallel(kToyPlayouts, threads);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  return kToyPlayouts * kSeeds / seconds;
}

Speeds best_toy_speeds() {
  Speeds best;
  for (int round = 0; round < kRounds; ++round) {
    best.one_thread = std::max(best.one_thread, toy_playouts_per_second(1));
    best.two_threads = std::max(best.two_threads, toy_playouts_per_second(2));
  }
  return best;
}

// Heap bytes held by a finished tree (nodes and their edge arrays), per node.
double bytes_per_node() {
  const auto policy = *policy_from_number(std::nullopt);
  live_bytes.store(0);
  counting.store(true);
  double per_node;
  {
    MyManager<2, true> manager =
        vardelic::players::mcts::make_manager<2, true>(State<2>::create(7), policy);
    manager.playout_n_parallel(kPlayouts, 1);
    // The manager's own small allocations (the tree object) are part of the figure; with
    // thousands of nodes they do not show.
    per_node =
        static_cast<double>(live_bytes.load()) / static_cast<double>(manager.tree().num_nodes());
  }
  counting.store(false);
  return per_node;
}

}  // namespace

int main(int argc, char** argv) {
  const char* json_path = argc > 2 && std::strcmp(argv[1], "--json") == 0 ? argv[2] : nullptr;

  std::printf("playouts per second (UCTBase, %u playouts x %d seeds, best of %d rounds)\n",
              kPlayouts, kSeeds, kRounds);
  std::printf("%-10s %-11s %12s %12s %8s\n", "players", "heuristics", "1 thread", "2 threads",
              "scaling");
  auto row = [](const char* players, const char* heuristics, Speeds speeds) {
    std::printf("%-10s %-11s %12.0f %12.0f %7.2fx\n", players, heuristics, speeds.one_thread,
                speeds.two_threads, speeds.two_threads / speeds.one_thread);
    std::fflush(stdout);
    return speeds;
  };
  const Speeds headline = row("2", "on", best_speeds<2, true>());
  row("2", "off", best_speeds<2, false>());
  row("4", "on", best_speeds<4, true>());
  row("4", "off", best_speeds<4, false>());
  const Speeds toy = row("c4 (toy)", "-", best_toy_speeds());
  const RolloutSpeeds rollouts = best_rollout_speeds();
  std::printf(
      "bare rollouts per second, 2 players, heuristics (same states): listing %.0f, counting "
      "%.0f (%.2fx); 1-thread playouts over listing rollouts %.2f\n",
      rollouts.listing, rollouts.counting, rollouts.counting / rollouts.listing,
      headline.one_thread / rollouts.listing);
  const double memory = bytes_per_node();
  std::printf("tree memory: %.1f bytes per node (sizeof MoveInfo %zu, SearchNode %zu)\n", memory,
              sizeof(vardelic::search::MoveInfo<vardelic::players::mcts::MyMCTS<2, true>>),
              sizeof(vardelic::search::SearchNode<vardelic::players::mcts::MyMCTS<2, true>>));

  if (json_path != nullptr) {
    std::FILE* out = std::fopen(json_path, "w");
    if (out == nullptr) {
      std::perror(json_path);
      return 1;
    }
    std::fprintf(
        out,
        "{\"search\": {\"playouts_per_second\": {\"threads_1\": %.1f, \"threads_2\": %.1f}, "
        "\"scaling_2_threads\": %.3f, \"toy_playouts_per_second\": {\"threads_1\": %.1f, "
        "\"threads_2\": %.1f}, \"toy_scaling_2_threads\": %.3f, \"rollouts_per_second\": "
        "{\"listing\": %.1f, \"counting\": %.1f}, \"rollout_speedup\": %.3f, "
        "\"playout_over_list_rollout\": %.3f, \"bytes_per_node\": %.1f}}\n",
        headline.one_thread, headline.two_threads, headline.two_threads / headline.one_thread,
        toy.one_thread, toy.two_threads, toy.two_threads / toy.one_thread, rollouts.listing,
        rollouts.counting, rollouts.counting / rollouts.listing,
        headline.one_thread / rollouts.listing, memory);
    std::fclose(out);
  }
  return 0;
}
