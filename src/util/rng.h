#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

namespace vardelic::util {

// One step of the SplitMix64 sequence: advances `state` and returns its next output. Expands
// seeds into keys, and derives independent seeds from one (state = seed, one step).
constexpr std::uint64_t splitmix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// The system's standard generator: ChaCha with 12 rounds over a 256-bit key, a 64-bit block
// counter and a zero nonce. Seeding from a 64-bit number expands the number into the key with
// a SplitMix64 sequence. Streams need not match any other library bit for bit; they only have
// to be reproducible within the system.
class ChaCha12Rng {
 public:
  static ChaCha12Rng from_seed(std::uint64_t seed);
  // Seeded from this thread's generator, which itself is seeded once from the operating
  // system's entropy. Throws Failure when no entropy can be had.
  static ChaCha12Rng from_entropy();

  std::uint32_t next_u32() {
    if (index_ >= kBufferWords) refill();
    return block_[index_++];
  }
  std::uint64_t next_u64() {
    const std::uint64_t low = next_u32();
    const std::uint64_t high = next_u32();
    return (high << 32) | low;
  }
  // Uniform in [0, n) by rejection (no modulo bias); n must be above 0. Inline: every rollout
  // step and every shuffled card draws through it.
  std::uint64_t gen_below(std::uint64_t n) {
    if (n <= 0xFFFFFFFFULL) {
      // Lemire's multiply-and-reject on 32 bits: one draw almost always suffices.
      // The division for the exact threshold is needed only when the low half is below
      // `bound`, since the threshold is smaller than that.
      const auto bound = static_cast<std::uint32_t>(n);
      std::uint64_t m = static_cast<std::uint64_t>(next_u32()) * bound;
      if (static_cast<std::uint32_t>(m) < bound) [[unlikely]] {
        const std::uint32_t threshold = static_cast<std::uint32_t>(-bound) % bound;
        while (static_cast<std::uint32_t>(m) < threshold) {
          m = static_cast<std::uint64_t>(next_u32()) * bound;
        }
      }
      return m >> 32;
    }
    return gen_below_wide(n);
  }

  friend bool operator==(const ChaCha12Rng&, const ChaCha12Rng&) = default;

  // Blocks computed per refill: four at once, side by side in vector lanes, make the same
  // stream as one at a time in fewer instructions per word (eight did no better).
  static constexpr std::size_t kBlocks = 4;

 private:
  static constexpr std::uint32_t kBufferWords = 16 * kBlocks;

  ChaCha12Rng() = default;
  void refill();
  std::uint64_t gen_below_wide(std::uint64_t n);  // n above 2^32 - 1

  std::array<std::uint32_t, 8> key_{};
  std::uint64_t counter_ = 0;  // the next block to compute
  std::array<std::uint32_t, kBufferWords> block_{};
  std::uint32_t index_ = kBufferWords;  // next unused word of block_
};

// The reference: ChaCha12 block `counter` of `key`, one block at a time, as the stream of
// ChaCha12Rng::from_seed is defined (the generator must give these words in order).
std::array<std::uint32_t, 16> chacha12_block(const std::array<std::uint32_t, 8>& key,
                                             std::uint64_t counter);
// The key from_seed(seed) expands the seed into.
std::array<std::uint32_t, 8> chacha12_key(std::uint64_t seed);

// The Fisher–Yates pass used by every shuffle: for i from the last index down to 1, swap
// element i with a uniform j in [0, i]. Fewer than two elements draw nothing.
template <typename T>
void shuffle(std::span<T> items, ChaCha12Rng& rng) {
  for (std::size_t i = items.size(); i-- > 1;) {
    std::size_t j = static_cast<std::size_t>(rng.gen_below(i + 1));
    std::swap(items[i], items[j]);
  }
}

}  // namespace vardelic::util
