#include "rl/worker_pool.h"

namespace vardelic::rl {

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
