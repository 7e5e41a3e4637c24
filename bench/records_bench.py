"""Speed of game records and seat views: replaying recorded games, and building views.

Records 200 seeded games per player count (1-4) played with random legal ids, then times
GameRecord.replay() over all of them (moves replayed per second, each replay checked against
its record's result and score) and Game.view() at every position of those games, each view
with its list of legal moves (views per second).

    python bench/records_bench.py [--games N] [--seconds S] [--json PATH]
"""

import argparse
import json
import time

import numpy as np
import vardelic_rl as rl


def record_games(games_per_count: int) -> list[rl.GameRecord]:
    rng = np.random.default_rng(0)
    records = []
    for num_players in (1, 2, 3, 4):
        for seed in range(games_per_count):
            game = rl.Game(num_players, seed=seed)
            while not game.done:
                game.step(int(rng.choice(np.flatnonzero(game.action_mask()))))
            records.append(game.record())
    return records


def replay_moves_per_second(records: list[rl.GameRecord], seconds: float) -> float:
    moves = 0
    start = time.perf_counter()
    while True:
        for record in records:
            record.replay()
            moves += len(record.moves)
        elapsed = time.perf_counter() - start
        if elapsed >= seconds:
            return moves / elapsed


def views_per_second(records: list[rl.GameRecord], seconds: float) -> tuple[float, int]:
    positions = [r.replay(upto=k) for r in records for k in range(len(r.moves))]
    views = 0
    start = time.perf_counter()
    while True:
        for game in positions:
            game.view()
        views += len(positions)
        elapsed = time.perf_counter() - start
        if elapsed >= seconds:
            return views / elapsed, len(positions)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--games", type=int, default=200, help="games per player count")
    parser.add_argument("--seconds", type=float, default=3.0, help="length of each timing")
    parser.add_argument("--json", metavar="PATH")
    args = parser.parse_args()

    records = record_games(args.games)
    replays = replay_moves_per_second(records, args.seconds)
    views, positions = views_per_second(records, args.seconds)
    total = sum(len(r.moves) for r in records)
    print(f"{len(records)} recorded games of 1-4 players, {total} moves:")
    print(f"  GameRecord.replay()            {replays:12,.0f} moves/s")
    print(f"  Game.view() with legal moves   {views:12,.0f} views/s ({positions} positions)")
    if args.json:
        with open(args.json, "w") as out:
            json.dump(
                {"records": {"replay_moves_per_second": replays, "views_per_second": views}},
                out,
                indent=2,
            )


if __name__ == "__main__":
    main()
