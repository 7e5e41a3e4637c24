"""Speed of training on the native batch: VardelicVecEnv as Stable-Baselines3 sees it, and the
single-file PyTorch PPO of examples/train_ppo.py.

VecEnv: 1,024 two-player games on 2 threads; each step reads the masks the way sb3-contrib's
MaskablePPO does (``get_action_masks``: ``env_method("action_masks")``, stacked) and steps
with one uniform legal id per game. The figure counts those two calls (what a trainer pays per
step: the native step, the copies Stable-Baselines3 keeps, the infos); the draw of the ids is
not counted, as in rl_bench. Best of several rounds (the machine is shared).

PPO: environment steps per second of a whole training run of examples/train_ppo.py (rollout
and updates together), default settings but ``--ppo-steps`` steps.

Policy: decisions per second of the shipped learned policy's seat (vardelic_rl.NetworkPlayer)
at a two-player vardelic.VardelicGame table, as the arena seats it: the driver hands it the
state, it encodes the observation, runs the network and returns the action. Games are played
out whole, and the figure is decisions over the seconds spent in the seat's play calls.

Needs the train extra (torch, stable-baselines3, sb3-contrib).

    python bench/train_bench.py [--json PATH] [--rounds 3] [--ppo-steps 262144]
"""

import argparse
import contextlib
import importlib.util
import io
import json
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

try:
    from sb3_contrib.common.maskable.utils import get_action_masks
    from vardelic_rl.sb3 import VardelicVecEnv
except ModuleNotFoundError as missing:
    sys.exit(f"bench/train_bench.py needs the train extra (pip install '.[train]'): {missing}")

ROOT = Path(__file__).resolve().parents[1]


def vecenv_round(envs: int, threads: int, steps: int, seed: int) -> float:
    """Seconds spent in get_action_masks and step over `steps` batch steps."""
    env = VardelicVecEnv(envs, num_players=2, num_threads=threads, seed=seed)
    env.reset()
    rng = np.random.default_rng(seed)
    spent = 0.0
    for _ in range(steps):
        start = time.perf_counter()
        masks = get_action_masks(env)
        middle = time.perf_counter()
        ids = np.argmax(rng.random(masks.shape, dtype=np.float32) * masks, axis=1)
        resumed = time.perf_counter()
        env.step(ids)
        spent += (middle - start) + (time.perf_counter() - resumed)
    return spent


def ppo_run(total_steps: int, env_threads: int, torch_threads: int) -> dict:
    spec = importlib.util.spec_from_file_location("train_ppo", ROOT / "examples" / "train_ppo.py")
    example = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = example
    spec.loader.exec_module(example)
    with tempfile.TemporaryDirectory() as out, contextlib.redirect_stderr(io.StringIO()):
        return example.main(
            ["--total-steps", str(total_steps), "--env-threads", str(env_threads)]
            + ["--torch-threads", str(torch_threads), "--out", f"{out}/ppo.pt", "--curve", ""]
        )


def policy_round(games: int, seed: int) -> tuple[int, float]:
    """(decisions, seconds inside the seat's play) over `games` two-player games."""
    import vardelic
    from vardelic_arena.game import CountingSeat
    from vardelic_rl import NetworkPlayer

    seats = [CountingSeat(NetworkPlayer()) for _ in range(2)]  # the arena's own timing seat
    for game in range(games):
        vardelic.VardelicGame(seats, seed + game).playout()
    return sum(s.decisions for s in seats), sum(s.seconds for s in seats)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", metavar="PATH")
    parser.add_argument("--envs", type=int, default=1024)
    parser.add_argument("--steps", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--ppo-steps", type=int, default=262_144)
    parser.add_argument("--torch-threads", type=int, default=1)
    parser.add_argument("--policy-games", type=int, default=300)
    args = parser.parse_args()

    decisions, seconds = min(
        (policy_round(args.policy_games, seed=1000 * r) for r in range(args.rounds)),
        key=lambda run: run[1] / run[0],
    )
    policy = decisions / seconds
    print(
        f"NetworkPlayer (shipped weights), 2 players: {decisions:,} decisions in {seconds:.2f} s: "
        f"{policy:,.0f} decisions/s ({1e6 / policy:.0f} µs each)"
    )

    best = min(vecenv_round(args.envs, 2, args.steps, seed=r) for r in range(args.rounds))
    vecenv = args.envs * args.steps / best
    print(f"VardelicVecEnv({args.envs}, 2 threads), masks read and stepped: {vecenv:,.0f} steps/s")
    with contextlib.redirect_stdout(io.StringIO()):
        run = ppo_run(args.ppo_steps, 1, args.torch_threads)
    ppo = run["steps_per_second"]
    score = run["history_scores"][-1] if run["history_scores"] else float("nan")
    print(
        f"examples/train_ppo.py, {run['steps']:,} steps in {run['seconds']:.1f} s: "
        f"{ppo:,.0f} steps/s (last iteration's mean score {score:.2f})"
    )
    if args.json:
        with open(args.json, "w") as out:
            figures = {
                "sb3_vecenv_steps_per_second": vecenv,
                "ppo_steps_per_second": ppo,
                "policy_decisions_per_second": policy,
            }
            json.dump({"train": figures}, out, indent=2)


if __name__ == "__main__":
    main()
