#pragma once

// Connect four on the search engine, for measuring the engine itself: a rollout costs well under
// a microsecond, about as much as the engine's own work per playout (descent, node creation,
// backup), so that contention in the shared tree shows instead of hiding behind long rollouts.
//
// Bitboards of 7 columns by 7 bits (6 cells and a guard bit each); `stones` holds the stones of
// the player to move, `filled` every stone.

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "search/mcts.h"

namespace vardelic::testing {

struct ConnectFour {
  static constexpr int kColumns = 7;
  static constexpr int kRows = 6;
  static constexpr int8_t kDraw = 2;

  uint64_t stones = 0;
  uint64_t filled = 0;
  uint8_t moves = 0;
  int8_t winner = -1;  // the player who connected four, kDraw, or -1 while the game goes on

  int current_player() const { return moves & 1; }
  bool over() const { return winner >= 0; }
  bool playable(int column) const {
    return (filled & (uint64_t{1} << (kRows - 1 + column * (kRows + 1)))) == 0;
  }
  std::vector<uint8_t> available_moves() const {
    std::vector<uint8_t> columns;
    if (over()) return columns;
    for (int c = 0; c < kColumns; ++c) {
      if (playable(c)) columns.push_back(static_cast<uint8_t>(c));
    }
    return columns;
  }
  void make_move(uint8_t column) {
    const uint64_t cell = (filled + (uint64_t{1} << column * (kRows + 1))) & ~filled;
    const uint64_t mine = stones | cell;
    const int mover = current_player();
    filled |= cell;
    stones = mine ^ filled;  // the other player's stones: the one to move next
    ++moves;
    if (connects(mine)) {
      winner = static_cast<int8_t>(mover);
    } else if (moves == kColumns * kRows) {
      winner = kDraw;
    }
  }

 private:
  static bool connects(uint64_t s) {
    for (int shift : {1, kRows, kRows + 1, kRows + 2}) {
      const uint64_t pairs = s & (s >> shift);
      if ((pairs & (pairs >> 2 * shift)) != 0) return true;
    }
    return false;
  }
};

// Each search thread's rollout generator (xorshift64*), seeded apart from the others'.
struct ConnectFourRng {
  uint64_t state = 0;
  uint32_t below(uint32_t n) {
    if (state == 0) {
      static std::atomic<uint64_t> streams{0};
      state = 0x9E3779B97F4A7C15ULL * (streams.fetch_add(1, std::memory_order_relaxed) + 1);
    }
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return static_cast<uint32_t>(((state * 0x2545F4914F6CDD1DULL) >> 32) * n >> 32);
  }
};

// A uniformly random game to its end; the winner or kDraw.
struct ConnectFourEvaluator {
  template <class M>
  std::pair<search::MoveEvaluationList<search::Empty>, int8_t> evaluate_new_state(
      const ConnectFour& state, const std::vector<uint8_t>& moves,
      const search::SearchHandle<M>* handle) const {
    ConnectFourRng root_rng;
    ConnectFourRng& rng = handle != nullptr ? handle->thread_data().extra_data : root_rng;
    return {search::MoveEvaluationList<search::Empty>(moves.size()), rollout(state, rng)};
  }
  template <class M>
  int8_t evaluate_existing_state(const ConnectFour& state, int8_t /*evaln*/,
                                 const search::SearchHandle<M>& handle) const {
    return rollout(state, handle.thread_data().extra_data);
  }
  // +1 to the player who won, -1 to the other, 0 for a draw.
  int64_t interpret_evaluation_for_player(int8_t winner, int player) const {
    if (winner == ConnectFour::kDraw) return 0;
    return winner == player ? 1 : -1;
  }

  static int8_t rollout(ConnectFour state, ConnectFourRng& rng) {
    while (!state.over()) {
      std::array<uint8_t, ConnectFour::kColumns> columns{};
      uint32_t count = 0;
      for (int c = 0; c < ConnectFour::kColumns; ++c) {
        if (state.playable(c)) columns[count++] = static_cast<uint8_t>(c);
      }
      state.make_move(columns[rng.below(count)]);
    }
    return state.winner;
  }
};

// The configuration, with any tree policy that scores rewards of -1 to 1.
template <class P>
struct ConnectFourMCTS : search::MCTSDefaults {
  using State = ConnectFour;
  using Eval = ConnectFourEvaluator;
  using Policy = P;
  using Table = search::NoTable;
  using NodeData = search::Empty;
  using ThreadExtra = ConnectFourRng;
  using StateEvaluation = int8_t;
  using MoveEvaluation = search::Empty;
  using Player = int;
  using Move = uint8_t;
  using MoveList = std::vector<uint8_t>;

  std::size_t max_playout_length() const { return 1000; }
  std::size_t node_limit() const { return std::numeric_limits<std::size_t>::max(); }
  uint64_t visits_before_expansion() const { return 1; }
  search::CycleBehaviour<int8_t> cycle_behaviour() const {
    return search::PanicWhenCycleDetected{};
  }
};

}  // namespace vardelic::testing
