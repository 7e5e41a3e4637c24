#include "util/rng.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "util/failure.h"

namespace vardelic::util {
namespace {

constexpr std::uint32_t rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void quarter_round(std::array<std::uint32_t, 16>& s, int a, int b, int c, int d) {
  s[a] += s[b]; s[d] = rotl(s[d] ^ s[a], 16);
  s[c] += s[d]; s[b] = rotl(s[b] ^ s[c], 12);
  s[a] += s[b]; s[d] = rotl(s[d] ^ s[a], 8);
  s[c] += s[d]; s[b] = rotl(s[b] ^ s[c], 7);
}

std::uint64_t splitmix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

std::uint64_t os_entropy_u64() {
  std::uint64_t value = 0;
  auto* out = reinterpret_cast<unsigned char*>(&value);
  std::size_t got = 0;
  while (got < sizeof value) {
    ssize_t n = getrandom(out + got, sizeof value - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Failure(std::string("could not read the operating system's entropy: ") +
                    std::strerror(errno));
    }
    got += static_cast<std::size_t>(n);
  }
  return value;
}

}  // namespace

ChaCha12Rng ChaCha12Rng::from_seed(std::uint64_t seed) {
  ChaCha12Rng rng;
  std::uint64_t state = seed;
  for (std::size_t i = 0; i < rng.key_.size(); i += 2) {
    std::uint64_t word = splitmix64(state);
    rng.key_[i] = static_cast<std::uint32_t>(word);
    rng.key_[i + 1] = static_cast<std::uint32_t>(word >> 32);
  }
  return rng;
}

ChaCha12Rng ChaCha12Rng::from_entropy() {
  // One generator per thread, seeded once from the operating system; each new generator is
  // seeded from its next output, so rollouts on many threads never contend on a syscall.
  thread_local std::optional<ChaCha12Rng> thread_rng;
  if (!thread_rng) thread_rng = from_seed(os_entropy_u64());
  return from_seed(thread_rng->next_u64());
}

void ChaCha12Rng::refill() {
  std::array<std::uint32_t, 16> input = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
  for (std::size_t i = 0; i < 8; ++i) input[4 + i] = key_[i];
  input[12] = static_cast<std::uint32_t>(counter_);
  input[13] = static_cast<std::uint32_t>(counter_ >> 32);
  input[14] = 0;
  input[15] = 0;
  block_ = input;
  for (int round = 0; round < 12; round += 2) {
    quarter_round(block_, 0, 4, 8, 12);
    quarter_round(block_, 1, 5, 9, 13);
    quarter_round(block_, 2, 6, 10, 14);
    quarter_round(block_, 3, 7, 11, 15);
    quarter_round(block_, 0, 5, 10, 15);
    quarter_round(block_, 1, 6, 11, 12);
    quarter_round(block_, 2, 7, 8, 13);
    quarter_round(block_, 3, 4, 9, 14);
  }
  for (std::size_t i = 0; i < 16; ++i) block_[i] += input[i];
  ++counter_;
  index_ = 0;
}

std::uint32_t ChaCha12Rng::next_u32() {
  if (index_ >= 16) refill();
  return block_[index_++];
}

std::uint64_t ChaCha12Rng::next_u64() {
  std::uint64_t low = next_u32();
  std::uint64_t high = next_u32();
  return (high << 32) | low;
}

std::uint64_t ChaCha12Rng::gen_below(std::uint64_t n) {
  if (n <= 0xFFFFFFFFULL) {
    // Lemire's multiply-and-reject on 32 bits: one draw almost always suffices.
    auto bound = static_cast<std::uint32_t>(n);
    std::uint32_t threshold = static_cast<std::uint32_t>(-bound) % bound;
    while (true) {
      std::uint64_t m = static_cast<std::uint64_t>(next_u32()) * bound;
      if (static_cast<std::uint32_t>(m) >= threshold) return m >> 32;
    }
  }
  std::uint64_t limit = UINT64_MAX - UINT64_MAX % n;
  while (true) {
    std::uint64_t x = next_u64();
    if (x < limit) return x % n;
  }
}

}  // namespace vardelic::util
