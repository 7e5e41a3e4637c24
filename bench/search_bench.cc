// Search speed and tree memory: playouts per second from fresh seeded states with the base UCT
// rule, for 2 and 4 players, rollout heuristics on and off, 1 and 2 worker threads; and the heap
// bytes the tree keeps per node. With --json, prints the headline figures as one JSON object.
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#include "game/policy.h"
#include "game/search_config.h"
#include "game/state.h"

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

using vardelic::game::MyManager;
using vardelic::game::policy_from_number;
using vardelic::game::State;

constexpr uint32_t kPlayouts = 20000;
constexpr int kSeeds = 3;

// Playouts per second over kSeeds fresh games; only the parallel runs are timed.
template <std::size_t N, bool H>
double playouts_per_second(std::size_t threads) {
  const auto policy = *policy_from_number(std::nullopt);
  double seconds = 0;
  for (int seed = 0; seed < kSeeds; ++seed) {
    MyManager<N, H> manager =
        vardelic::game::make_manager<N, H>(State<N>::create(1000 + seed), policy);
    const auto start = std::chrono::steady_clock::now();
    manager.playout_n_parallel(kPlayouts, threads);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  return kPlayouts * kSeeds / seconds;
}

// Heap bytes held by a finished tree (nodes and their edge arrays), per node.
double bytes_per_node() {
  const auto policy = *policy_from_number(std::nullopt);
  live_bytes.store(0);
  counting.store(true);
  double per_node;
  {
    MyManager<2, true> manager = vardelic::game::make_manager<2, true>(State<2>::create(7), policy);
    manager.playout_n_parallel(kPlayouts, 1);
    // The manager's own small allocations (the tree object) are part of the figure; with
    // thousands of nodes they do not show.
    per_node = static_cast<double>(live_bytes.load()) /
               static_cast<double>(manager.tree().num_nodes());
  }
  counting.store(false);
  return per_node;
}

}  // namespace

int main(int argc, char** argv) {
  const bool json = argc > 1 && std::strcmp(argv[1], "--json") == 0;

  const double two_h_1 = playouts_per_second<2, true>(1);
  const double two_h_2 = playouts_per_second<2, true>(2);
  const double memory = bytes_per_node();
  if (json) {
    std::printf(
        "{\"search\": {\"playouts_per_second\": {\"threads_1\": %.1f, \"threads_2\": %.1f}, "
        "\"scaling_2_threads\": %.3f, \"bytes_per_node\": %.1f}}\n",
        two_h_1, two_h_2, two_h_2 / two_h_1, memory);
    return 0;
  }

  std::printf("playouts per second (UCTBase, %u playouts x %d seeds)\n", kPlayouts, kSeeds);
  std::printf("%-10s %-11s %12s %12s %8s\n", "players", "heuristics", "1 thread", "2 threads",
              "scaling");
  auto row = [](const char* players, const char* heuristics, double one, double two) {
    std::printf("%-10s %-11s %12.0f %12.0f %7.2fx\n", players, heuristics, one, two, two / one);
  };
  row("2", "on", two_h_1, two_h_2);
  row("2", "off", playouts_per_second<2, false>(1), playouts_per_second<2, false>(2));
  row("4", "on", playouts_per_second<4, true>(1), playouts_per_second<4, true>(2));
  row("4", "off", playouts_per_second<4, false>(1), playouts_per_second<4, false>(2));
  std::printf("tree memory: %.1f bytes per node (sizeof MoveInfo %zu, SearchNode %zu)\n", memory,
              sizeof(vardelic::search::MoveInfo<vardelic::game::MyMCTS<2, true>>),
              sizeof(vardelic::search::SearchNode<vardelic::game::MyMCTS<2, true>>));
  return 0;
}
