#pragma once

// Hand-position combinations in the order the action space lists them. Internal to the game:
// shared by the list-building action space and the indexed one, which must agree entry by entry.

#include <array>
#include <cstddef>
#include <cstdint>

namespace vardelic::game::subsets {

// Calls visit(indices, k) for every k-subset of [0, n) as index tuples in lexicographic order.
template <typename Visit>
constexpr void for_each_combination(std::size_t n, std::size_t k, Visit&& visit) {
  if (k == 0 || k > n) return;
  std::array<std::size_t, 8> idx{};
  for (std::size_t i = 0; i < k; ++i) idx[i] = i;
  while (true) {
    visit(idx, k);
    std::size_t i = k;
    while (i > 0 && idx[i - 1] == n - k + i - 1) --i;
    if (i == 0) return;
    ++idx[i - 1];
    for (std::size_t j = i; j < k; ++j) idx[j] = idx[j - 1] + 1;
  }
}

// The non-empty subsets of n hand positions as bit masks (bit i = position i), by size, then
// in lexicographic order of their index tuples: the order in which discards are listed.
// The subsets of size k are masks[first[k]] up to masks[first[k + 1]].
struct SubsetOrder {
  std::array<std::uint8_t, 255> masks{};
  std::array<std::uint8_t, 10> first{};
  std::size_t count = 0;
};

constexpr std::array<SubsetOrder, 9> make_subset_orders() {
  std::array<SubsetOrder, 9> orders{};
  for (std::size_t n = 1; n <= 8; ++n) {
    SubsetOrder& order = orders[n];
    for (std::size_t k = 1; k <= n; ++k) {
      order.first[k] = static_cast<std::uint8_t>(order.count);
      for_each_combination(n, k, [&](const auto& idx, std::size_t size) {
        std::uint8_t mask = 0;
        for (std::size_t i = 0; i < size; ++i) {
          mask = static_cast<std::uint8_t>(mask | (1u << idx[i]));
        }
        order.masks[order.count++] = mask;
      });
    }
    for (std::size_t k = n + 1; k < order.first.size(); ++k) {
      order.first[k] = static_cast<std::uint8_t>(order.count);
    }
  }
  return orders;
}

inline constexpr std::array<SubsetOrder, 9> kSubsetOrders = make_subset_orders();

}  // namespace vardelic::game::subsets
