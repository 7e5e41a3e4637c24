// Random games from fresh seeded states, per player count: the action space, a uniform
// choice and the step, as a rollout plays them. Prints actions per second on one core and
// games per second; with --json PATH, also writes the figures there as one JSON object.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "game/state.h"
#include "util/rng.h"

namespace {

using vardelic::game::Action;
using vardelic::game::State;
using vardelic::util::ChaCha12Rng;

struct Figures {
  double actions_per_second;
  double games_per_second;
  double copying_actions_per_second;  // through apply_action, one state copy per action
};

template <std::size_t N>
Figures measure(double seconds) {
  using Clock = std::chrono::steady_clock;
  Figures figures{};
  ChaCha12Rng choice = ChaCha12Rng::from_seed(12345);
  std::vector<Action> actions;
  for (int pass = 0; pass < 2; ++pass) {
    std::uint64_t total_actions = 0, games = 0, seed = 0;
    auto start = Clock::now();
    double elapsed = 0;
    while (elapsed < seconds) {
      for (int batch = 0; batch < 64; ++batch) {
        State<N> state = State<N>::create(seed++);
        while (true) {
          actions.clear();
          state.append_action_space(actions);
          if (actions.empty()) break;
          const Action& action = actions[choice.gen_below(actions.size())];
          ++total_actions;
          if (pass == 0) {
            if (state.step(action)) break;
          } else {
            auto status = state.apply_action(action);
            if (!std::holds_alternative<State<N>>(status)) break;
            state = std::get<State<N>>(status);
          }
        }
        ++games;
      }
      elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    }
    if (pass == 0) {
      figures.actions_per_second = total_actions / elapsed;
      figures.games_per_second = games / elapsed;
    } else {
      figures.copying_actions_per_second = total_actions / elapsed;
    }
  }
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  const char* json_path = argc > 2 && std::strcmp(argv[1], "--json") == 0 ? argv[2] : nullptr;
  double seconds = 1.5;
  Figures f[4] = {measure<1>(seconds), measure<2>(seconds), measure<3>(seconds),
                  measure<4>(seconds)};
  double mean = 0;
  for (const Figures& x : f) mean += x.actions_per_second / 4;

  std::printf("%-8s %16s %14s %22s\n", "players", "actions/s", "games/s", "apply_action/s (copy)");
  for (int i = 0; i < 4; ++i) {
    std::printf("%-8d %16.0f %14.0f %22.0f\n", i + 1, f[i].actions_per_second,
                f[i].games_per_second, f[i].copying_actions_per_second);
  }
  std::printf("%-8s %16.0f\n", "mean", mean);

  if (json_path != nullptr) {
    std::FILE* out = std::fopen(json_path, "w");
    if (out == nullptr) {
      std::perror(json_path);
      return 1;
    }
    std::fprintf(out, "{\"rules\": {\"actions_per_second\": {");
    for (int i = 0; i < 4; ++i)
      std::fprintf(out, "\"players_%d\": %.0f, ", i + 1, f[i].actions_per_second);
    std::fprintf(out, "\"mean\": %.0f}, \"games_per_second\": {", mean);
    for (int i = 0; i < 4; ++i)
      std::fprintf(out, "%s\"players_%d\": %.0f", i ? ", " : "", i + 1, f[i].games_per_second);
    std::fprintf(out, "}, \"apply_action_per_second\": {");
    for (int i = 0; i < 4; ++i)
      std::fprintf(out, "%s\"players_%d\": %.0f", i ? ", " : "", i + 1,
                   f[i].copying_actions_per_second);
    std::fprintf(out, "}}}\n");
    std::fclose(out);
  }
  return 0;
}
