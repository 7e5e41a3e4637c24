"""Speed of the Gymnasium and PettingZoo environments, stepped from Python with random legal ids.

PettingZoo's own performance_benchmark on the AEC environment (2 players; it runs for five
seconds and prints turns per second), and a single Gymnasium environment stepped with ids drawn
from info["action_mask"], resetting at the end of each game.

    python bench/rl_py_bench.py [--seconds S] [--json PATH]
"""

import argparse
import contextlib
import io
import json
import re
import time

import numpy as np
from pettingzoo.test import performance_benchmark
from vardelic_rl import pettingzoo as vardelic_pettingzoo
from vardelic_rl.gym_env import VardelicEnv


def pettingzoo_turns_per_second(num_players: int) -> float:
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        performance_benchmark(vardelic_pettingzoo.env(num_players=num_players))
    match = re.search(r"^([0-9.e+]+) turns per second", printed.getvalue(), re.MULTILINE)
    if not match:
        raise RuntimeError(f"performance_benchmark printed no figure: {printed.getvalue()!r}")
    return float(match[1])


def gym_steps_per_second(num_players: int, seconds: float) -> tuple[float, int]:
    env = VardelicEnv(num_players=num_players)
    rng = np.random.default_rng(0)
    _, info = env.reset(seed=0)
    steps = games = 0
    start = time.perf_counter()
    while True:
        for _ in range(1000):
            legal = np.flatnonzero(info["action_mask"])
            _, _, terminated, _, info = env.step(legal[rng.integers(len(legal))])
            steps += 1
            if terminated:
                games += 1
                _, info = env.reset()
        elapsed = time.perf_counter() - start
        if elapsed >= seconds:
            return steps / elapsed, games


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=5.0, help="length of the Gymnasium run")
    parser.add_argument("--players", type=int, default=2)
    parser.add_argument("--json", metavar="PATH")
    args = parser.parse_args()

    turns = pettingzoo_turns_per_second(args.players)
    steps, games = gym_steps_per_second(args.players, args.seconds)
    print(f"{args.players}-player games, random legal ids:")
    print(f"  PettingZoo performance_benchmark  {turns:12,.0f} turns/s")
    print(f"  Gymnasium environment             {steps:12,.0f} steps/s ({games} games)")
    if args.json:
        with open(args.json, "w") as out:
            json.dump(
                {"rl": {"pettingzoo_turns_per_second": turns, "gym_steps_per_second": steps}},
                out,
                indent=2,
            )


if __name__ == "__main__":
    main()
