"""Why did the search choose its move? Rank the candidate actions of one decision.

Plays a seeded game with random players up to a given turn, asks a search player for that
turn's decision, and prints MCTSPlayer.ranked_actions(): every candidate action with its
visit count and mean reward (enemies defeated in the rollouts, 12 for a win).

    python3 examples/inspect_search.py --turn 3 --playouts 2000
    python3 examples/inspect_search.py --samples 4 --plot decision.png
"""

from __future__ import annotations

import argparse
import math
import re

import vardelic
from vardelic import players

ANSI = re.compile(r"\x1b\[[0-9;]*m")  # colour codes: off for labels and column widths


class Stop(Exception):
    pass


class Capture:
    """Sits in every seat, plays randomly and keeps the state of the wanted turn."""

    def __init__(self, turn: int, seed: int, num_players: int):
        self.turn, self.turns, self.state = turn, 0, None
        self.randoms = [players.RandomPlayer(seed=seed + i) for i in range(num_players)]

    def play(self, state):
        if self.turns == self.turn:
            self.state = state
            raise Stop  # ends playout(); the game is left as it was before this turn
        self.turns += 1
        return self.randoms[int(state.has_turn())].play(state)


def state_at(turn: int, seed: int, num_players: int):
    capture = Capture(turn, seed, num_players)
    game = vardelic.VardelicGame([capture] * num_players, seed=seed)
    try:
        game.playout()
    except Stop:
        return capture.state
    raise SystemExit(f"the game ended before turn {turn}; try a smaller --turn")


def plot(rows, path: str, title: str) -> None:
    import matplotlib

    matplotlib.use("Agg")  # headless: write the file, open no window
    import matplotlib.pyplot as plt

    labels = [label for label, _, _ in rows]
    visits = [v for _, v, _ in rows]
    means = [0.0 if math.isnan(m) else m for _, _, m in rows]  # unvisited: NaN
    fig, (left, right) = plt.subplots(1, 2, sharey=True, figsize=(10, 1.5 + 0.35 * len(rows)))
    y = range(len(rows))
    left.bar_label(left.barh(y, visits, color="tab:blue"), padding=2, fontsize=8)
    left.set_xlabel("visits")
    left.set_yticks(list(y), labels)
    left.invert_yaxis()  # most visited (the chosen action) on top
    right.bar_label(right.barh(y, means, color="tab:orange"), fmt="%.2f", padding=2, fontsize=8)
    right.set_xlabel("mean reward (enemies defeated, 12 = won)")
    for ax in (left, right):
        ax.grid(axis="x", alpha=0.3)
        ax.margins(x=0.12)  # room for the value labels
    fig.suptitle(title)
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--players", type=int, default=2, choices=[1, 2, 3, 4])
    parser.add_argument("--seed", type=int, default=7, help="game seed")
    parser.add_argument("--turn", type=int, default=0, help="decision to inspect (0 = first move)")
    parser.add_argument("--playouts", type=int, default=1000, help="playouts per sample")
    parser.add_argument("--threads", type=int, default=1, help="search threads")
    parser.add_argument("--samples", type=int, default=1, help="determinised samples")
    parser.add_argument(
        "--policy",
        type=int,
        choices=[0, 2, 3, 4],
        default=None,
        help="tree policy variation (default: base)",
    )
    parser.add_argument("--no-heuristics", action="store_true", help="plain random rollouts")
    parser.add_argument("--plot", metavar="PATH.png", help="bar chart of visits and mean reward")
    args = parser.parse_args()

    state = state_at(args.turn, args.seed, args.players)
    print(ANSI.sub("", str(state)), end="\n\n")  # player to move, hand, current enemy

    player = players.MCTSPlayer(
        args.playouts,
        args.threads,
        not args.no_heuristics,
        policy_variation=args.policy,
        deterministic_samples=args.samples,
    )
    chosen = player.play(state)
    ranked = player.ranked_actions()  # [(action, visits, mean reward)], most visited first
    assert ranked[0][0] == chosen

    rows = [(ANSI.sub("", str(action)), visits, mean) for action, visits, mean in ranked]
    total = sum(v for _, v, _ in rows)
    width = max(len(label) for label, _, _ in rows)
    print(f"{'#':>3}  {'action':<{width}}  {'visits':>7}  {'share':>6}  {'mean reward':>11}")
    for rank, (label, visits, mean) in enumerate(rows, 1):
        share = visits / total if total else 0.0
        print(f"{rank:>3}  {label:<{width}}  {visits:>7}  {share:>6.1%}  {mean:>11.3f}")
    print(f"\nchosen: {rows[0][0]}  ({total} visits over {args.samples} sample(s))")

    if args.plot:
        title = (
            f"seed {args.seed}, turn {args.turn}: {args.playouts} playouts x "
            f"{args.samples} sample(s), policy {args.policy or 'base'}"
        )
        plot(rows, args.plot, title)
        print(f"plot written to {args.plot}")


if __name__ == "__main__":
    main()
