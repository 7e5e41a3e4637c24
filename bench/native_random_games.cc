// Plays seeded games between RandomPlayer seats directly on the core, turn by turn as the
// Python driver does (legal actions, the seat's choice, the legality check, apply_action),
// and prints the seconds per game. The baseline for bench/python_bench.py.
//
//   native_random_games GAMES PLAYERS
// Game g uses seed g; seat i is RandomPlayer(1000 + i).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <variant>
#include <vector>

#include "game/state.h"
#include "players/random_player.h"

namespace {

using vardelic::game::GameResult;
using vardelic::game::State;
using vardelic::players::RandomPlayer;

template <std::size_t N>
unsigned play_games(unsigned games) {
  unsigned lost = 0;
  for (unsigned g = 0; g < games; ++g) {
    State<N> state = State<N>::create(g);
    std::vector<RandomPlayer> seats;
    for (std::size_t i = 0; i < N; ++i) seats.emplace_back(1000 + i);
    while (true) {
      auto action = seats[state.has_turn.id].play(state);
      auto legal = state.get_action_space();
      if (std::find(legal.begin(), legal.end(), action) == legal.end()) std::abort();
      auto status = state.apply_action(action);
      if (auto* next = std::get_if<State<N>>(&status)) {
        state = *next;
      } else {
        lost += std::get<GameResult>(status).won() ? 0 : 1;
        break;
      }
    }
  }
  return lost;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s GAMES PLAYERS\n", argv[0]);
    return 2;
  }
  const unsigned games = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
  const int players = std::atoi(argv[2]);
  auto start = std::chrono::steady_clock::now();
  unsigned lost = 0;
  switch (players) {
    case 1:
      lost = play_games<1>(games);
      break;
    case 2:
      lost = play_games<2>(games);
      break;
    case 3:
      lost = play_games<3>(games);
      break;
    case 4:
      lost = play_games<4>(games);
      break;
    default:
      std::fprintf(stderr, "PLAYERS must be 1 to 4\n");
      return 2;
  }
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%.9g %u\n", elapsed.count() / games, lost);
  return 0;
}
