#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vardelic::rl {

// A fixed team of threads that run one task together, again and again: run(task) calls
// task(0) on the calling thread and task(1) .. task(size - 1) on the pool's own threads, and
// returns when all have returned. Between runs a thread spins for up to `kSpin` before it
// sleeps, so that back-to-back runs (a batch stepped again after a short draw in Python) do
// not pay a wake-up each; the threads stop with the pool.
//
// One run at a time: run() must not be called from two threads at once, nor from a task.
// The first exception a task throws is rethrown by run() after every task has finished.
class WorkerPool {
 public:
  explicit WorkerPool(std::size_t size);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  std::size_t size() const { return threads_.size() + 1; }
  void run(const std::function<void(std::size_t)>& task);

 private:
  void work(std::size_t index);

  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable finished_;
  const std::function<void(std::size_t)>* task_ = nullptr;
  static constexpr std::chrono::microseconds kSpin{2000};

  // Written under mutex_; read without it only while spinning, then again under it.
  std::atomic<std::size_t> generation_{0};  // counts runs; a worker runs each generation once
  std::atomic<std::size_t> running_{0};     // workers of the current run still busy
  std::atomic<bool> stopping_{false};
  std::exception_ptr error_;
  std::vector<std::thread> threads_;
};

}  // namespace vardelic::rl
