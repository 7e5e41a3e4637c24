#pragma once

// The parallel driver: MCTSManager owns one search tree and runs its playouts on worker threads.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "search/config.h"
#include "search/node.h"
#include "search/tree.h"
#include "util/failure.h"

namespace vardelic::search {

// How a parallel run starts each of its workers: on a new std::thread. A run may be given any
// callable of this shape instead: it receives the worker's function, which the run hands to
// every worker alike, and returns a thread running a copy of it, or throws std::system_error,
// as std::thread does, when it cannot start one.
struct StartThread {
  template <class Work>
  std::thread operator()(const Work& work) const {
    return std::thread(work);
  }
};

// Owns one search: builds the tree on a root state and runs playouts on worker threads.
template <MCTS M>
class MCTSManager {
 public:
  using State = typename M::State;

  MCTSManager(State root_state, M manager, typename M::Eval eval, typename M::Policy tree_policy,
              typename M::Table table)
      : search_tree_(std::make_unique<SearchTree<M>>(std::move(root_state), std::move(manager),
                                                     std::move(eval), std::move(tree_policy),
                                                     std::move(table))) {}

  SearchTree<M>& tree() { return *search_tree_; }
  const SearchTree<M>& tree() const { return *search_tree_; }
  NodeHandle<M> root_node() const { return search_tree_->root_node(); }

  // One playout on the calling thread, with data kept for single-threaded use.
  bool playout() {
    if (!single_threaded_tld_) single_threaded_tld_.emplace();
    return search_tree_->playout(*single_threaded_tld_);
  }

  // Runs exactly n playouts (refused ones included) on num_threads new worker threads and
  // returns once all have been joined; the calling thread only waits. Each worker gets a fresh
  // ThreadData. n == 0 returns at once; num_threads == 0 otherwise throws util::Failure
  // "assertion failed: num_threads != 0". If a playout throws, the other workers stop after
  // their current playout and the first exception is rethrown here; if a thread cannot be
  // started, the started ones are stopped and joined and util::Failure is thrown. `start`
  // starts each worker (see StartThread).
  template <class Start = StartThread>
  void playout_n_parallel(uint32_t n, std::size_t num_threads, Start start = {}) {
    if (n == 0) return;
    if (num_threads == 0) throw util::Failure("assertion failed: num_threads != 0");
    // A worker past the n-th would find the counter spent at once: start none of those, so an
    // absurd thread count costs nothing.
    num_threads = std::min<std::size_t>(num_threads, n);

    SearchTree<M>& tree = *search_tree_;
    // Workers take playouts in batches, so that the shared counter is written once per batch
    // rather than once per playout; batches stay small against n / num_threads, so that no
    // worker is left with much to do alone at the end.
    const int64_t batch = std::clamp<int64_t>(n / (num_threads * 64), 1, 16);
    alignas(64) std::atomic<int64_t> counter{n};
    alignas(64) std::atomic<bool> stop{false};
    std::mutex error_mutex;
    std::exception_ptr first_error;
    auto work = [&tree, &counter, &stop, &error_mutex, &first_error, batch] {
      // Nodes this worker created, added to num_nodes once it stops (exceptions included), so
      // that playouts do not all write one shared counter.
      std::size_t created = 0;
      struct CountOnExit {
        SearchTree<M>& tree;
        std::size_t& created;
        ~CountOnExit() { tree.count_nodes(created); }
      } count_on_exit{tree, created};
      try {
        ThreadData<M> tld;
        // Relaxed: the counter publishes nothing; fetch_sub's atomicity alone hands out
        // exactly n playouts, min(batch, before) to each subtraction that finds `before`
        // positive. `stop` is a hint; the error it announces is read after join.
        while (!stop.load(std::memory_order_relaxed)) {
          const int64_t before = counter.fetch_sub(batch, std::memory_order_relaxed);
          if (before <= 0) break;
          for (int64_t i = std::min(batch, before); i > 0; --i) {
            if (stop.load(std::memory_order_relaxed)) break;
            tree.playout(tld, &created);
          }
        }
      } catch (...) {
        {
          std::lock_guard<std::mutex> lock(error_mutex);
          if (!first_error) first_error = std::current_exception();
        }
        stop.store(true, std::memory_order_relaxed);
      }
    };

    std::vector<std::thread> workers;
    workers.reserve(num_threads);
    auto stop_and_join = [&] {
      stop.store(true, std::memory_order_relaxed);
      for (std::thread& worker : workers) {
        if (worker.joinable()) worker.join();
      }
    };
    try {
      for (std::size_t i = 0; i < num_threads; ++i) {
        workers.push_back(start(work));
      }
    } catch (const std::system_error& error) {
      stop_and_join();
      throw util::Failure(std::string("failed to start a search thread: ") + error.what());
    } catch (...) {
      stop_and_join();
      throw;
    }
    for (std::thread& worker : workers) worker.join();
    if (first_error) std::rethrow_exception(first_error);
    if (num_threads > 1) tree.sync_edge_statistics();
  }

 private:
  std::unique_ptr<SearchTree<M>> search_tree_;
  std::optional<ThreadData<M>> single_threaded_tld_;
};

}  // namespace vardelic::search
