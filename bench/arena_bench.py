"""Arena throughput: process scaling and the cost of the runner itself.

    python bench/arena_bench.py [--games 30] [--playouts 500] [--repeat 3] [--json PATH]

workers_2_over_1: games per second with 2 worker processes over 1, for a
search team with one thread per search (same seeds). overhead: games per
second through the arena (one worker process, progress bar, counting seats)
over a bare loop of the same games in this process. Targets: >= 1.8 and
>= 0.95. Also prints what the counting seats cost a random-only team, where
a decision is cheapest and the proxy weighs most.
"""

from __future__ import annotations

import argparse
import json
import os
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "python"))

import vardelic  # noqa: E402
from rich.console import Console  # noqa: E402
from vardelic_arena import evaluate  # noqa: E402
from vardelic_arena.runner import seat_seed  # noqa: E402


def _timed(fn) -> float:
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def bare_search_loop(seeds, playouts: int, seats: int) -> None:
    for seed in seeds:
        game = vardelic.VardelicGame(
            [vardelic.players.MCTSPlayer(playouts, 1, True) for _ in range(seats)], seed
        )
        game.playout()
        game.reward()


def bare_random_loop(seeds, seats: int) -> None:
    for seed in seeds:
        game = vardelic.VardelicGame(
            [vardelic.players.RandomPlayer(seed=seat_seed(seed, i)) for i in range(seats)], seed
        )
        game.playout()
        game.reward()


def main() -> int:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--games", type=int, default=30)
    parser.add_argument("--playouts", type=int, default=500)
    parser.add_argument("--seats", type=int, default=2)
    parser.add_argument("--seed", type=int, default=1000)
    parser.add_argument("--random-games", type=int, default=2000)
    parser.add_argument(
        "--repeat",
        type=int,
        default=3,
        help="rounds of all four measurements, alternated; each keeps its "
        "best round, the one least disturbed by other load",
    )
    parser.add_argument("--json", metavar="PATH")
    args = parser.parse_args()

    team = ",".join([f"mcts(playouts={args.playouts},threads=1)"] * args.seats)
    seeds = range(args.seed, args.seed + args.games)
    if sys.stderr.isatty():
        console = Console(stderr=True)
    else:
        # Keep the bar's rendering cost in the measurement even when nobody watches.
        console = Console(file=open(os.devnull, "w"), force_terminal=True)

    def arena(workers: int, progress: bool):
        return lambda: evaluate(
            [team], args.games, args.seed, workers=workers, progress=progress, console=console
        )

    rounds = []
    for _ in range(args.repeat):
        rounds.append(
            (
                _timed(arena(1, False)),
                _timed(arena(2, False)),
                _timed(lambda: bare_search_loop(seeds, args.playouts, args.seats)),
                _timed(arena(1, True)),
            )
        )
    one, two, bare, through = (min(column) for column in zip(*rounds, strict=True))
    scaling = one / two
    overhead = bare / through

    random_team = ",".join(["random"] * args.seats)
    random_seeds = range(args.seed, args.seed + args.random_games)
    random_bare = _timed(lambda: bare_random_loop(random_seeds, args.seats))
    random_direct = _timed(
        lambda: evaluate(
            [random_team], args.random_games, args.seed, workers=0, progress=False, direct=True
        )
    )
    random_counted = _timed(
        lambda: evaluate([random_team], args.random_games, args.seed, workers=0, progress=False)
    )

    print(f"search team {team}, {args.games} games")
    print(f"  1 worker  {args.games / one:8.2f} games/s")
    print(
        f"  2 workers {args.games / two:8.2f} games/s   workers_2_over_1 = {scaling:.3f}"
        f"  (target >= 1.8, {os.cpu_count()} cores)"
    )
    print(f"  bare loop {args.games / bare:8.2f} games/s")
    print(
        f"  arena, 1 worker, progress bar {args.games / through:8.2f} games/s"
        f"   overhead = {overhead:.3f}  (target >= 0.95)"
    )
    print(f"random team {random_team}, {args.random_games} games in this process")
    print(f"  bare loop        {args.random_games / random_bare:10.1f} games/s")
    print(f"  arena, seated    {args.random_games / random_direct:10.1f} games/s")
    print(
        f"  arena, counting  {args.random_games / random_counted:10.1f} games/s"
        f"   counting seats over direct = {random_direct / random_counted:.3f}"
    )

    if args.json:
        result = {
            "arena": {"workers_2_over_1": scaling, "overhead": overhead},
            "arena_details": {
                "games": args.games,
                "repeat": args.repeat,
                "playouts": args.playouts,
                "seats": args.seats,
                "cores": os.cpu_count(),
                "games_per_second": {
                    "workers_1": args.games / one,
                    "workers_2": args.games / two,
                    "bare_loop": args.games / bare,
                    "arena_progress": args.games / through,
                },
                "random_counting_over_direct": random_direct / random_counted,
                "random_direct_over_bare": random_bare / random_direct,
            },
        }
        Path(args.json).write_text(json.dumps(result, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
