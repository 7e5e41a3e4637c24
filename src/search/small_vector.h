#pragma once

#include <algorithm>
#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace vardelic::search {

// A growable list that keeps its first N elements inside the object and moves to the heap only
// beyond that. A playout's bookkeeping lists use it so that ordinary playouts allocate nothing.
//
// Only what the engine needs: push_back, indexing, iteration, clear. Neither copyable nor movable:
// a playout's lists never leave the playout.
template <class T, std::size_t N>
class SmallVector {
  static_assert(N > 0, "SmallVector needs an inline capacity");

 public:
  SmallVector() = default;
  SmallVector(const SmallVector&) = delete;
  SmallVector& operator=(const SmallVector&) = delete;
  SmallVector(SmallVector&&) = delete;
  SmallVector& operator=(SmallVector&&) = delete;
  ~SmallVector() {
    clear();
    if (on_heap()) ::operator delete(data_, std::align_val_t{alignof(T)});
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t capacity() const { return capacity_; }
  // True once the list has outgrown its inline storage.
  bool on_heap() const { return data_ != inline_data(); }

  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  T& back() { return data_[size_ - 1]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  std::span<const T> view() const { return {data_, size_}; }

  template <class... Args>
  T& emplace_back(Args&&... args) {
    if (size_ == capacity_) grow();
    T* slot = std::construct_at(data_ + size_, std::forward<Args>(args)...);
    ++size_;
    return *slot;
  }
  void push_back(const T& value) { emplace_back(value); }
  void push_back(T&& value) { emplace_back(std::move(value)); }

  void clear() {
    std::destroy(data_, data_ + size_);
    size_ = 0;
  }

 private:
  T* inline_data() { return std::launder(reinterpret_cast<T*>(storage_)); }
  const T* inline_data() const { return std::launder(reinterpret_cast<const T*>(storage_)); }

  void grow() {
    constexpr std::size_t kMaxCapacity = std::numeric_limits<std::size_t>::max() / sizeof(T) / 2;
    if (capacity_ > kMaxCapacity) throw std::length_error("SmallVector capacity overflow");
    const std::size_t new_capacity = capacity_ * 2;
    T* fresh =
        static_cast<T*>(::operator new(new_capacity * sizeof(T), std::align_val_t{alignof(T)}));
    // Strong guarantee: if a move (or copy) throws, the old buffer stays intact.
    std::size_t built = 0;
    try {
      for (; built < size_; ++built) {
        std::construct_at(fresh + built, std::move_if_noexcept(data_[built]));
      }
    } catch (...) {
      std::destroy(fresh, fresh + built);
      ::operator delete(fresh, std::align_val_t{alignof(T)});
      throw;
    }
    std::destroy(data_, data_ + size_);
    if (on_heap()) ::operator delete(data_, std::align_val_t{alignof(T)});
    data_ = fresh;
    capacity_ = new_capacity;
  }

  alignas(T) std::byte storage_[N * sizeof(T)];
  T* data_ = inline_data();
  std::size_t size_ = 0;
  std::size_t capacity_ = N;
};

}  // namespace vardelic::search
