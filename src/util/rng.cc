#include "util/rng.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "util/failure.h"

namespace vardelic::util {
namespace {

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

std::array<std::uint32_t, 8> chacha12_key(std::uint64_t seed) {
  std::array<std::uint32_t, 8> key{};
  std::uint64_t state = seed;
  for (std::size_t i = 0; i < key.size(); i += 2) {
    std::uint64_t word = splitmix64(state);
    key[i] = static_cast<std::uint32_t>(word);
    key[i + 1] = static_cast<std::uint32_t>(word >> 32);
  }
  return key;
}

ChaCha12Rng ChaCha12Rng::from_seed(std::uint64_t seed) {
  ChaCha12Rng rng;
  rng.key_ = chacha12_key(seed);
  return rng;
}

ChaCha12Rng ChaCha12Rng::from_entropy() {
  // One generator per thread, seeded once from the operating system; each new generator is
  // seeded from its next output, so rollouts on many threads never contend on a syscall.
  thread_local std::optional<ChaCha12Rng> thread_rng;
  if (!thread_rng) thread_rng = from_seed(os_entropy_u64());
  return from_seed(thread_rng->next_u64());
}

namespace {

constexpr std::array<std::uint32_t, 4> kConstants = {0x61707865, 0x3320646e, 0x79622d32,
                                                     0x6b206574};

std::array<std::uint32_t, 16> block_input(const std::array<std::uint32_t, 8>& key,
                                          std::uint64_t counter) {
  return {kConstants[0],
          kConstants[1],
          kConstants[2],
          kConstants[3],
          key[0],
          key[1],
          key[2],
          key[3],
          key[4],
          key[5],
          key[6],
          key[7],
          static_cast<std::uint32_t>(counter),
          static_cast<std::uint32_t>(counter >> 32),
          0,
          0};
}

// Word i of kBlocks consecutive blocks, one block per lane of a vector (GCC's and Clang's vector
// extension: SIMD registers where the target has them, scalar code elsewhere).
using Lanes = std::uint32_t __attribute__((vector_size(4 * ChaCha12Rng::kBlocks)));

// W is a 32-bit word, or Lanes of them: the same operations either way, on every lane at once.
template <class W>
W rotl(W x, int n) {
  return (x << n) | (x >> (32 - n));
}

template <class W>
void quarter_round(W& a, W& b, W& c, W& d) {
  a += b;
  d = rotl(d ^ a, 16);
  c += d;
  b = rotl(b ^ c, 12);
  a += b;
  d = rotl(d ^ a, 8);
  c += d;
  b = rotl(b ^ c, 7);
}

// The 12 rounds, two per pass: columns, then diagonals.
template <class W>
void chacha12_rounds(std::array<W, 16>& x) {
  for (int round = 0; round < 12; round += 2) {
    quarter_round(x[0], x[4], x[8], x[12]);
    quarter_round(x[1], x[5], x[9], x[13]);
    quarter_round(x[2], x[6], x[10], x[14]);
    quarter_round(x[3], x[7], x[11], x[15]);
    quarter_round(x[0], x[5], x[10], x[15]);
    quarter_round(x[1], x[6], x[11], x[12]);
    quarter_round(x[2], x[7], x[8], x[13]);
    quarter_round(x[3], x[4], x[9], x[14]);
  }
}

}  // namespace

std::array<std::uint32_t, 16> chacha12_block(const std::array<std::uint32_t, 8>& key,
                                             std::uint64_t counter) {
  const std::array<std::uint32_t, 16> input = block_input(key, counter);
  std::array<std::uint32_t, 16> block = input;
  chacha12_rounds(block);
  for (std::size_t i = 0; i < 16; ++i) block[i] += input[i];
  return block;
}

// kBlocks blocks from counter_ on, block l in lane l, then written out block after block: the
// words chacha12_block gives for counter_, counter_ + 1, ... in that order.
void ChaCha12Rng::refill() {
  std::array<Lanes, 16> x;
  for (std::size_t l = 0; l < kBlocks; ++l) {
    const std::array<std::uint32_t, 16> words = block_input(key_, counter_ + l);
    for (std::size_t i = 0; i < 16; ++i) x[i][l] = words[i];
  }
  const std::array<Lanes, 16> input = x;
  chacha12_rounds(x);
  for (std::size_t i = 0; i < 16; ++i) {
    const Lanes sum = x[i] + input[i];
    for (std::size_t l = 0; l < kBlocks; ++l) block_[16 * l + i] = sum[l];
  }
  counter_ += kBlocks;
  index_ = 0;
}

std::uint64_t ChaCha12Rng::gen_below_wide(std::uint64_t n) {
  const std::uint64_t limit = UINT64_MAX - UINT64_MAX % n;
  while (true) {
    const std::uint64_t x = next_u64();
    if (x < limit) return x % n;
  }
}

}  // namespace vardelic::util
