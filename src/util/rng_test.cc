#include "util/rng.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <numeric>
#include <set>
#include <vector>

namespace vardelic::util {
namespace {

std::vector<std::uint64_t> stream(ChaCha12Rng rng, int n) {
  std::vector<std::uint64_t> out;
  for (int i = 0; i < n; ++i) out.push_back(rng.next_u64());
  return out;
}

TEST(ChaCha12Rng, SameSeedSameStreamOtherSeedsDiffer) {
  // 40 outputs cross several 16-word blocks.
  for (std::uint64_t seed : {0ull, 1ull, 42ull, 0xFFFFFFFFFFFFFFFFull}) {
    EXPECT_EQ(stream(ChaCha12Rng::from_seed(seed), 40), stream(ChaCha12Rng::from_seed(seed), 40));
  }
  std::set<std::vector<std::uint64_t>> streams;
  for (std::uint64_t seed = 0; seed < 64; ++seed) {
    streams.insert(stream(ChaCha12Rng::from_seed(seed), 4));
  }
  EXPECT_EQ(streams.size(), 64u);
  // The stream does not repeat from block to block.
  std::vector<std::uint64_t> long_stream = stream(ChaCha12Rng::from_seed(3), 200);
  EXPECT_EQ(std::set<std::uint64_t>(long_stream.begin(), long_stream.end()).size(), 200u);
}

// The generator computes several blocks per refill; its words must be the reference's blocks
// in counter order, across many refills. The first words of two seeds are pinned as well, so
// that a change to the reference itself (and so to every seeded game) cannot pass either.
TEST(ChaCha12Rng, StreamIsTheReferenceBlocksInOrder) {
  for (std::uint64_t seed : {0ull, 7ull, 42ull, 0xFFFFFFFFFFFFFFFFull}) {
    ChaCha12Rng rng = ChaCha12Rng::from_seed(seed);
    const std::array<std::uint32_t, 8> key = chacha12_key(seed);
    for (std::uint64_t counter = 0; counter < 3 * ChaCha12Rng::kBlocks + 1; ++counter) {
      for (std::uint32_t word : chacha12_block(key, counter)) {
        ASSERT_EQ(rng.next_u32(), word) << "seed " << seed << " block " << counter;
      }
    }
  }
  struct Pinned {
    std::uint64_t seed;
    std::array<std::uint32_t, 4> first;
    std::uint32_t word_199;
  };
  for (const Pinned& p :
       {Pinned{0, {0x82b67bca, 0xd18c9d7b, 0xdd8c2eb1, 0x73f1688a}, 0x3886a027},
        Pinned{42, {0xf392fa12, 0x280b7b79, 0xbc931d07, 0x4dadef83}, 0x69cef80e}}) {
    ChaCha12Rng rng = ChaCha12Rng::from_seed(p.seed);
    for (std::uint32_t word : p.first) EXPECT_EQ(rng.next_u32(), word) << "seed " << p.seed;
    for (int i = 4; i < 199; ++i) rng.next_u32();
    EXPECT_EQ(rng.next_u32(), p.word_199) << "seed " << p.seed;
  }
}

TEST(ChaCha12Rng, U64IsTwoU32LowFirst) {
  ChaCha12Rng a = ChaCha12Rng::from_seed(9);
  ChaCha12Rng b = ChaCha12Rng::from_seed(9);
  for (int i = 0; i < 20; ++i) {
    std::uint64_t low = a.next_u32();
    std::uint64_t high = a.next_u32();
    EXPECT_EQ(b.next_u64(), (high << 32) | low);
  }
}

TEST(ChaCha12Rng, CopiesContinueIndependently) {
  ChaCha12Rng a = ChaCha12Rng::from_seed(5);
  a.next_u32();
  ChaCha12Rng b = a;
  EXPECT_EQ(a, b);
  std::vector<std::uint64_t> from_a = stream(a, 30);
  a.next_u64();
  EXPECT_EQ(stream(b, 30), from_a);
  EXPECT_NE(a, b);
}

TEST(ChaCha12Rng, EntropySeededGeneratorsDiffer) {
  std::set<std::vector<std::uint64_t>> streams;
  for (int i = 0; i < 8; ++i) streams.insert(stream(ChaCha12Rng::from_entropy(), 2));
  EXPECT_EQ(streams.size(), 8u);
}

TEST(ChaCha12Rng, GenBelowStaysInRange) {
  ChaCha12Rng rng = ChaCha12Rng::from_seed(17);
  for (std::uint64_t n : {1ull, 2ull, 3ull, 7ull, 255ull, 0xFFFFFFFFull, 0x100000000ull,
                          0x100000001ull, 0x8000000000000001ull, 0xFFFFFFFFFFFFFFFFull}) {
    std::uint64_t largest = 0;
    for (int i = 0; i < 2000; ++i) {
      std::uint64_t x = rng.gen_below(n);
      ASSERT_LT(x, n);
      largest = std::max(largest, x);
    }
    // Large bounds reach their upper half.
    if (n > 1) {
      EXPECT_GE(largest, n / 2) << n;
    } else {
      EXPECT_EQ(largest, 0u);
    }
  }
}

TEST(ChaCha12Rng, GenBelowIsRoughlyUniform) {
  ChaCha12Rng rng = ChaCha12Rng::from_seed(23);
  for (std::uint64_t n : {2ull, 6ull, 54ull}) {
    std::vector<int> counts(n);
    const int draws = 60000;
    for (int i = 0; i < draws; ++i) ++counts[rng.gen_below(n)];
    double expected = static_cast<double>(draws) / static_cast<double>(n);
    double chi2 = 0;
    for (int c : counts) chi2 += (c - expected) * (c - expected) / expected;
    // Far above the 99.9% quantile for these degrees of freedom; a biased draw lands above it.
    EXPECT_LT(chi2, 3.0 * static_cast<double>(n) + 30.0) << n;
  }
}

TEST(Shuffle, FewerThanTwoElementsDrawNothing) {
  ChaCha12Rng rng = ChaCha12Rng::from_seed(1);
  const ChaCha12Rng start = rng;
  std::vector<int> none;
  shuffle(std::span(none), rng);
  std::vector<int> one = {5};
  shuffle(std::span(one), rng);
  EXPECT_EQ(rng, start);
  EXPECT_EQ(one, std::vector<int>{5});
}

TEST(Shuffle, DrawsFromTheLastIndexDown) {
  for (std::uint64_t seed = 0; seed < 20; ++seed) {
    std::vector<int> items(10);
    std::iota(items.begin(), items.end(), 0);
    std::vector<int> expected = items;
    ChaCha12Rng rng = ChaCha12Rng::from_seed(seed);
    ChaCha12Rng by_hand = rng;
    shuffle(std::span(items), rng);
    for (std::size_t i = expected.size() - 1; i >= 1; --i) {
      std::swap(expected[i], expected[by_hand.gen_below(i + 1)]);
    }
    EXPECT_EQ(items, expected);
    EXPECT_EQ(rng, by_hand);
  }
}

TEST(Shuffle, EveryPermutationIsEquallyLikely) {
  ChaCha12Rng rng = ChaCha12Rng::from_seed(31);
  std::map<std::vector<int>, int> counts;
  const int draws = 24000;
  for (int i = 0; i < draws; ++i) {
    std::vector<int> items = {0, 1, 2, 3};
    shuffle(std::span(items), rng);
    ++counts[items];
  }
  ASSERT_EQ(counts.size(), 24u);
  for (const auto& [perm, count] : counts) {
    EXPECT_NEAR(count, draws / 24, 150);
  }
}

}  // namespace
}  // namespace vardelic::util
