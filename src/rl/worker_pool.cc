#include "rl/worker_pool.h"

namespace vardelic::rl {
namespace {

// Spins until `done()` or until `limit` has passed; true when `done()`.
template <typename Done>
bool spin_until(Done&& done, std::chrono::microseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    for (int i = 0; i < 64; ++i) {
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    }
    if (std::chrono::steady_clock::now() >= deadline) return done();
  }
  return true;
}

}  // namespace

WorkerPool::WorkerPool(std::size_t size) {
  threads_.reserve(size > 1 ? size - 1 : 0);
  for (std::size_t i = 1; i < size; ++i) threads_.emplace_back([this, i] { work(i); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  start_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::run(const std::function<void(std::size_t)>& task) {
  if (threads_.empty()) {
    task(0);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    task_ = &task;
    running_ = threads_.size();
    error_ = nullptr;
    ++generation_;
  }
  start_.notify_all();
  std::exception_ptr own;
  try {
    task(0);
  } catch (...) {
    own = std::current_exception();
  }
  spin_until([this] { return running_.load(std::memory_order_acquire) == 0; }, kSpin);
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [this] { return running_ == 0; });
  task_ = nullptr;
  if (own) std::rethrow_exception(own);
  if (error_) std::rethrow_exception(error_);
}

void WorkerPool::work(std::size_t index) {
  std::size_t seen = 0;
  while (true) {
    const std::function<void(std::size_t)>* task;
    spin_until(
        [&] {
          return stopping_.load(std::memory_order_acquire) ||
                 generation_.load(std::memory_order_acquire) != seen;
        },
        kSpin);
    {
      std::unique_lock lock(mutex_);
      start_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      task = task_;
    }
    std::exception_ptr error;
    try {
      (*task)(index);
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    if (error && !error_) error_ = error;
    // Notified under the lock: run() may return and destroy the pool as soon as it sees 0.
    if (--running_ == 0) finished_.notify_one();
  }
}

}  // namespace vardelic::rl
