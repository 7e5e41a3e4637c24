#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <type_traits>

#include "util/debug_text.h"
#include "util/failure.h"

namespace vardelic::util {

// A list of at most N elements stored in place: no heap memory, trivially copyable when T is,
// so a whole game state can be copied as one block. Going beyond the capacity is a programming
// error that throws Failure before anything is written.
template <typename T, std::size_t N>
class InlineList {
  static_assert(N <= 255, "the size is kept in one byte");
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  using value_type = T;
  using iterator = T*;
  using const_iterator = const T*;

  constexpr InlineList() = default;
  InlineList(std::initializer_list<T> items) { assign(items.begin(), items.end()); }

  // Builds a list from any range of elements, in range order.
  template <typename Range>
  static InlineList from_range(const Range& range) {
    InlineList list;
    list.assign(std::begin(range), std::end(range));
    return list;
  }

  template <typename It>
  void assign(It first, It last) {
    size_ = 0;
    for (; first != last; ++first) push_back(*first);
  }

  static constexpr std::size_t capacity() { return N; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  bool full() const { return size_ == N; }

  T& operator[](std::size_t i) { return items_[i]; }
  const T& operator[](std::size_t i) const { return items_[i]; }
  T& back() { return items_[size_ - 1]; }
  const T& back() const { return items_[size_ - 1]; }
  T* begin() { return items_.data(); }
  T* end() { return items_.data() + size_; }
  const T* begin() const { return items_.data(); }
  const T* end() const { return items_.data() + size_; }
  T* data() { return items_.data(); }
  const T* data() const { return items_.data(); }

  void push_back(const T& item) {
    if (size_ == N) [[unlikely]]
      overflow();
    items_[size_++] = item;
  }
  void pop_back() { --size_; }
  void clear() { size_ = 0; }

  // Inserts at position `index` (0 is the bottom), moving later elements up.
  void insert(std::size_t index, const T& item) {
    if (size_ == N) [[unlikely]]
      overflow();
    std::copy_backward(begin() + index, end(), end() + 1);
    items_[index] = item;
    ++size_;
  }
  void erase(std::size_t index) {
    std::copy(begin() + index + 1, end(), begin() + index);
    --size_;
  }

  friend bool operator==(const InlineList& a, const InlineList& b) {
    return a.size_ == b.size_ && std::equal(a.begin(), a.end(), b.begin());
  }

 private:
  // Out of line, so that the hot push_back stays small enough to inline.
  [[noreturn, gnu::cold, gnu::noinline]] static void overflow() {
    throw Failure("capacity exceeded: a list of at most " + std::to_string(N) +
                  " elements is full");
  }

  std::array<T, N> items_{};
  std::uint8_t size_ = 0;
};

// A list is written in the list form, element by element.
template <typename T, std::size_t N>
void write_debug(DebugWriter& w, const InlineList<T, N>& list) {
  w.list().elements(list).finish();
}

}  // namespace vardelic::util
