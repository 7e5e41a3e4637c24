"""Cost of the Python module's game driver against the same games played natively.

Plays seeded games between RandomPlayer seats through vardelic.VardelicGame and through
bench/native_random_games.cc (the CMake target native_random_games of the build folder), then
a game with one Python seat. Prints seconds per game and the ratio module/native.

    python bench/python_bench.py [--games N] [--players P] [--build-dir DIR] [--json PATH]

bench/run builds the module in the same folder and puts it first on PYTHONPATH, so that both
sides come from one build with the same flags. Run alone, it needs cmake and ninja on PATH
(bench/run puts those of build-venv/ first).
"""

import argparse
import json
import pathlib
import statistics
import subprocess
import sys
import time

import vardelic

ROOT = pathlib.Path(__file__).resolve().parents[1]


def native_binary(build_dir):
    """The native baseline, built by CMake in build_dir (configured for Release if new)."""
    build_dir = pathlib.Path(build_dir)
    if not (build_dir / "CMakeCache.txt").exists():
        subprocess.run(
            [
                "cmake",
                "-S",
                ROOT,
                "-B",
                build_dir,
                "-G",
                "Ninja",
                "-DCMAKE_BUILD_TYPE=Release",
                "-DBUILD_TESTING=OFF",
            ],
            check=True,
            stdout=subprocess.DEVNULL,
        )
    # Always (incrementally) rebuilt: a binary older than the sources would time other rules.
    subprocess.run(
        ["cmake", "--build", build_dir, "--target", "native_random_games"],
        check=True,
        stdout=subprocess.DEVNULL,
    )
    return build_dir / "bench" / "native_random_games"


def native_seconds(binary, games, players):
    done = subprocess.run(
        [binary, str(games), str(players)], check=True, capture_output=True, text=True
    )
    seconds, lost = done.stdout.split()
    return float(seconds), int(lost)


def module_seconds(games, players):
    RandomPlayer = vardelic.players.RandomPlayer
    lost = 0
    start = time.perf_counter()
    for g in range(games):
        seats = [RandomPlayer(seed=1000 + i) for i in range(players)]
        lost += int(vardelic.VardelicGame(seats, seed=g).playout())
    return (time.perf_counter() - start) / games, lost


class PythonSeat:
    def __init__(self, seed):
        self.player = vardelic.players.RandomPlayer(seed=seed)

    def play(self, state):
        return self.player.play(state)


def python_seat_seconds(games, players):
    RandomPlayer = vardelic.players.RandomPlayer
    start = time.perf_counter()
    for g in range(games):
        seats = [PythonSeat(1000)] + [RandomPlayer(seed=1000 + i) for i in range(1, players)]
        vardelic.VardelicGame(seats, seed=g).playout()
    return (time.perf_counter() - start) / games


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--games", type=int, default=20000)
    parser.add_argument("--players", type=int, default=2)
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument(
        "--build-dir",
        default=ROOT / "build-bench",
        help="CMake build folder of this checkout (default: build-bench)",
    )
    parser.add_argument("--json", metavar="PATH")
    args = parser.parse_args()

    binary = native_binary(args.build_dir)
    native, module = [], []
    for _ in range(args.repeats):  # interleaved, best of each
        n, native_lost = native_seconds(binary, args.games, args.players)
        m, module_lost = module_seconds(args.games, args.players)
        native.append(n)
        module.append(m)
    if native_lost != module_lost:
        sys.exit(f"the games differ: {native_lost} native losses, {module_lost} through the module")
    python_seat = python_seat_seconds(max(1, args.games // 10), args.players)
    n, m = min(native), min(module)
    ratio = m / n
    print(f"module {vardelic.__file__}")
    print(f"{args.players}-player random games, best of {args.repeats} runs of {args.games}:")
    print(f"  native            {n * 1e6:9.2f} us/game")
    median = statistics.median(module)
    print(f"  module            {m * 1e6:9.2f} us/game  (median {median * 1e6:.2f})")
    print(f"  one Python seat   {python_seat * 1e6:9.2f} us/game")
    print(f"  module / native   {ratio:9.3f}")
    if args.json:
        with open(args.json, "w") as out:
            json.dump(
                {
                    "python": {
                        "seconds_per_random_game": {"module": m, "native": n},
                        "module_over_native": ratio,
                        "seconds_per_game_with_python_seat": python_seat,
                    }
                },
                out,
                indent=2,
            )


if __name__ == "__main__":
    main()
