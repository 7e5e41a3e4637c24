// Fuzz target for the rules: decodes bytes into a game and a sequence of actions, legal ones
// picked from the action space and arbitrary ones built from the bytes. Listed actions are
// applied and the card-conservation invariants checked after each; every other action is
// applied to a throwaway copy, which may fail with a Failure but must never crash, overflow or
// touch memory it does not own (the sanitizer builds watch for that).
//
// Built with libFuzzer (-fsanitize=fuzzer) this file is the whole target. Built without it,
// the main below is a fixed-iteration driver feeding inputs drawn from a seeded generator:
//   fuzz_actions [--iterations N] [--seconds S] [--seed S]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "game/state.h"
#include "testing/game_testing.h"
#include "util/failure.h"
#include "util/rng.h"

namespace {

using vardelic::game::Action;
using vardelic::game::ActionKind;
using vardelic::game::Card;
using vardelic::game::CardSuit;
using vardelic::game::CardValue;
using vardelic::game::State;

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  std::uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

Card any_card(Bytes& in) {
  std::uint8_t b = in.next();
  return {static_cast<CardSuit>(b % 5), static_cast<CardValue>((b / 5) % 14)};
}

// Any action at all: any kind, any cards (up to the kind's capacity), any player number.
Action any_action(Bytes& in) {
  std::uint8_t kind = in.next() % 7;
  std::vector<Card> cards(in.next() % 9);
  for (Card& c : cards) c = any_card(in);
  switch (static_cast<ActionKind>(kind)) {
    case ActionKind::Play:
      return Action::play(any_card(in));
    case ActionKind::AnimalCombo:
      return Action::animal_combo(any_card(in), any_card(in));
    case ActionKind::Combo:
      cards.resize(std::min<std::size_t>(cards.size(), 4));
      return Action::combo(cards);
    case ActionKind::Yield:
      return Action::yield();
    case ActionKind::Discard:
      return Action::discard(cards);
    case ActionKind::ChangePlayer:
      return Action::change_player({in.next() % 6u});
    case ActionKind::RefillHand:
      return Action::refill_hand();
  }
  return Action::yield();
}

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
  std::abort();
}

template <std::size_t N>
void run(std::uint64_t seed, Bytes& in) {
  State<N> state = State<N>::create(seed);
  for (int step = 0; step < 2000 && !in.empty(); ++step) {
    std::vector<Action> legal = state.get_action_space();
    if (legal.empty()) return;
    std::uint8_t op = in.next();
    Action action = op < 192 ? legal[op % legal.size()] : any_action(in);
    bool listed = std::find(legal.begin(), legal.end(), action) != legal.end();
    if (!listed) {
      try {
        (void)state.apply_action(action);
      } catch (const vardelic::util::Failure&) {
      }
      continue;
    }
    auto status = state.apply_action(action);
    if (!std::holds_alternative<State<N>>(status)) return;
    state = std::get<State<N>>(status);
    auto verdict = vardelic::testing::check_invariants(state);
    if (!verdict) fail(verdict.message());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes in(data, size);
  std::size_t players = in.next() % 4 + 1;
  std::uint64_t seed = 0;
  for (int i = 0; i < 8; ++i) seed = (seed << 8) | in.next();
  switch (players) {
    case 1:
      run<1>(seed, in);
      break;
    case 2:
      run<2>(seed, in);
      break;
    case 3:
      run<3>(seed, in);
      break;
    default:
      run<4>(seed, in);
      break;
  }
  return 0;
}

#ifndef VARDELIC_LIBFUZZER
int main(int argc, char** argv) {
  std::uint64_t iterations = 100000, seed = 1;
  double seconds = 0;  // 0: no time limit
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--iterations") == 0)
      iterations = std::strtoull(argv[i + 1], nullptr, 10);
    else if (std::strcmp(argv[i], "--seconds") == 0)
      seconds = std::strtod(argv[i + 1], nullptr);
    else if (std::strcmp(argv[i], "--seed") == 0)
      seed = std::strtoull(argv[i + 1], nullptr, 10);
  }
  auto rng = vardelic::util::ChaCha12Rng::from_seed(seed);
  std::vector<std::uint8_t> input;
  auto start = std::chrono::steady_clock::now();
  std::uint64_t done = 0;
  double elapsed = 0;
  for (; done < iterations; ++done) {
    input.resize(1 + rng.gen_below(1024));
    for (auto& b : input) b = static_cast<std::uint8_t>(rng.next_u32());
    LLVMFuzzerTestOneInput(input.data(), input.size());
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds > 0 && elapsed >= seconds) {
      ++done;
      break;
    }
  }
  std::printf("fuzz_actions: %llu executions in %.1f s (%.0f per second)\n",
              static_cast<unsigned long long>(done), elapsed, done / (elapsed > 0 ? elapsed : 1));
  return 0;
}
#endif
