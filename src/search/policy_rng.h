#pragma once

#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <ranges>

namespace vardelic::search {

// Marsaglia's xorshift128: four 32-bit words, 32-bit output. Tree policies use it only to break
// ties, so speed matters more than quality. Every instance starts from the words 1, 2, 3, 4; each
// worker thread of a run owns one, so a run's tie-break streams are the same on every run.
class PolicyRng {
 public:
  PolicyRng() = default;

  uint32_t next_u32() {
    const uint32_t t = x_ ^ (x_ << 11);
    x_ = y_;
    y_ = z_;
    z_ = w_;
    w_ = w_ ^ (w_ >> 19) ^ (t ^ (t >> 8));
    return w_;
  }

  // Uniform integer in [0, n), n >= 1: rejects draws at or above the largest multiple of n that
  // fits below 2^32 - 1, then reduces modulo n.
  uint32_t gen_below(uint32_t n) {
    constexpr uint32_t kMax = std::numeric_limits<uint32_t>::max();
    const uint32_t zone = kMax - (kMax % n);
    uint32_t draw;
    do {
      draw = next_u32();
    } while (draw >= zone);
    return draw % n;
  }

  // Returns a pointer to the element of `elements` with the highest key, or nullptr when the
  // range is empty or every key is NaN. Among k elements sharing the highest key each is chosen
  // with probability 1/k (reservoir sampling in one pass); the generator advances only on ties.
  // A NaN key compares neither greater nor equal, so it is never chosen.
  template <std::ranges::forward_range R, class Key>
    requires std::ranges::contiguous_range<R>
  auto select_by_key(R&& elements, Key&& key)
      -> std::remove_reference_t<std::ranges::range_reference_t<R>>* {
    using Element = std::remove_reference_t<std::ranges::range_reference_t<R>>;
    Element* choice = nullptr;
    uint32_t num_optimal = 0;
    double best_so_far = -std::numeric_limits<double>::infinity();
    for (auto& element : elements) {
      const double score = key(element);
      if (score > best_so_far) {
        choice = std::addressof(element);
        num_optimal = 1;
        best_so_far = score;
      } else if (score == best_so_far) {
        ++num_optimal;
        // num_optimal is 1 only when every earlier key was -inf too and none was chosen yet.
        if (num_optimal < 2 || gen_below(num_optimal) == 0) choice = std::addressof(element);
      }
    }
    return choice;
  }

 private:
  uint32_t x_ = 1;
  uint32_t y_ = 2;
  uint32_t z_ = 3;
  uint32_t w_ = 4;
};

}  // namespace vardelic::search
