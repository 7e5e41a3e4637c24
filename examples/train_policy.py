"""Train a small policy on the batched environment with numpy alone, then plot and save it.

A masked softmax policy (one tanh hidden layer over the observation, one logit per action id,
illegal ids masked out) learns by policy gradient (advantage actor-critic) from games stepped
in batches in C++. One policy plays every seat. Writes the weights (.npz) and a learning curve
(.png); a few minutes on 2 cores with the defaults.

    python3 examples/train_policy.py --out policy.npz --curve curve.png

Then compare it with a random and a search team on paired deals:

    VARDELIC_RL_WEIGHTS=policy.npz vardelic-arena --team 'py:vardelic_rl.agent:TrainedPlayer*2' \\
        --team 'random*2' --team 'mcts(p=100)*2' --games 200 --workers 2
"""

from __future__ import annotations

import argparse
import math
import os
import time

# The matrices are small: BLAS threads would only contend with each other and with the
# threads stepping the games (set before numpy loads its BLAS).
for variable in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(variable, "1")

import numpy as np  # noqa: E402  (after the BLAS settings above)
from tqdm import tqdm  # noqa: E402
from vardelic_rl.train import Settings, train  # noqa: E402


def plot(history, path, title) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    games = np.asarray(history.games)
    score = np.asarray(history.mean_score)
    known = ~np.isnan(score)
    window = max(1, len(score) // 30)
    smooth = np.convolve(np.where(known, score, 0), np.ones(window), "same") / np.maximum(
        np.convolve(known.astype(float), np.ones(window), "same"), 1
    )
    fig, ax = plt.subplots(figsize=(7, 4), dpi=100)
    ax.plot(games[known], score[known], color="0.8", lw=0.8, label="games of one iteration")
    ax.plot(games, smooth, color="C0", lw=2, label=f"moving mean over {window} iterations")
    ax.axhline(
        score[known][: max(1, window)].mean(),
        color="C3",
        ls="--",
        lw=1,
        label="first iterations (near-uniform policy)",
    )
    ax.set_xlabel("games played")
    ax.set_ylabel("mean score (enemies defeated)")
    ax.set_title(title)
    ax.set_ylim(bottom=0)
    ax.grid(alpha=0.3)
    ax.legend(loc="lower right")
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    defaults = Settings()
    parser.add_argument("--players", type=int, default=defaults.num_players)
    parser.add_argument(
        "--envs", type=int, default=defaults.num_envs, help="games stepped together"
    )
    parser.add_argument(
        "--horizon", type=int, default=defaults.horizon, help="steps per game between updates"
    )
    parser.add_argument("--iterations", type=int, default=defaults.iterations)
    parser.add_argument("--hidden", type=int, default=defaults.hidden, help="hidden units")
    parser.add_argument("--lr", type=float, default=defaults.learning_rate)
    parser.add_argument(
        "--threads", type=int, default=defaults.num_threads, help="threads stepping the batch"
    )
    parser.add_argument("--seed", type=int, default=defaults.seed)
    parser.add_argument("--out", default="policy.npz", help="weights file to write")
    parser.add_argument("--curve", default="learning_curve.png", help="PNG to write")
    parser.add_argument("--no-progress", action="store_true", help="no progress bar")
    args = parser.parse_args()

    settings = Settings(
        num_players=args.players,
        num_envs=args.envs,
        horizon=args.horizon,
        iterations=args.iterations,
        hidden=args.hidden,
        learning_rate=args.lr,
        num_threads=args.threads,
        seed=args.seed,
    )
    start = time.perf_counter()
    with tqdm(total=args.iterations, unit="it", disable=args.no_progress) as bar:

        def report(progress) -> None:
            if not math.isnan(progress.mean_score):
                bar.set_postfix(score=f"{progress.mean_score:.2f}", games=progress.games)
            bar.update()

        policy, history = train(settings, report)
    seconds = time.perf_counter() - start
    policy.save(args.out)
    plot(
        history,
        args.curve,
        f"{args.players} players: {history.games[-1]} games, {history.steps[-1]:,} steps, "
        f"{seconds:.0f} s",
    )

    scores = np.asarray(history.mean_score)
    tail = scores[-max(1, len(scores) // 10) :]
    head = scores[: max(1, len(scores) // 10)]
    print(
        f"trained {args.iterations} iterations in {seconds:.1f} s "
        f"({history.steps[-1] / seconds:,.0f} steps/s, {history.games[-1]} games)"
    )
    print(
        f"mean score while training: first tenth {np.nanmean(head):.2f}, "
        f"last tenth {np.nanmean(tail):.2f}"
    )
    print(f"weights written to {args.out}, learning curve to {args.curve}")


if __name__ == "__main__":
    main()
