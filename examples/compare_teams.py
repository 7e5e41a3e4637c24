"""Compare teams of players on the same deals with the arena's Python API.

Every team plays games dealt from seeds SEED .. SEED+GAMES-1 ("paired deals"), so the
difference of two teams' scores on a deal shows the players, not the luck of the deal. The
first team is the reference.

    python3 examples/compare_teams.py --games 40 --playouts 200 --workers 2

The same comparison on the command line:
    vardelic-arena --team random,random --team 'mcts(playouts=200),random' --games 40
"""

from __future__ import annotations

import argparse
import pathlib

from vardelic_arena import evaluate

HEURISTIC = pathlib.Path(__file__).with_name("python_player.py")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--games", type=int, default=40, help="deals per team")
    parser.add_argument("--seed", type=int, default=0, help="first game seed")
    parser.add_argument("--playouts", type=int, default=200, help="search playouts per decision")
    parser.add_argument(
        "--workers", type=int, default=2, help="worker processes (0: play in this process)"
    )
    args = parser.parse_args()

    # A team is 1 to 4 seats: "random", "mcts(KEY=VALUE,...)" or "py:MODULE:CLASS" (your own
    # player class, here the one of python_player.py). One search thread per game: the
    # worker processes give the parallelism.
    teams = [
        "random,random",
        f"py:{HEURISTIC}:HeuristicPlayer,random",
        f"mcts(playouts={args.playouts},threads=1),random",
    ]
    evaluation = evaluate(
        teams, games=args.games, seed=args.seed, workers=args.workers, progress=False
    )

    print(f"{args.games} paired deals, seeds {args.seed}..{args.seed + args.games - 1}")
    labels = [
        f"{i}. " + t.label.replace(f"py:{HEURISTIC}:", "")
        for i, t in enumerate(evaluation.summary.teams, 1)
    ]
    width = max(len(label) for label in labels)
    print(
        f"{'team':<{width}} {'games':>5} {'wins':>4} {'score [95 % interval]':>22}"
        f" {'vs team 1 [95 %]':>22}"
    )
    for label, team in zip(labels, evaluation.summary.teams, strict=True):
        score = f"{team.mean_score:.2f} [{team.score_low:.2f}, {team.score_high:.2f}]"
        paired = team.paired  # mean score difference to team 1 on the same deals
        versus = (
            "reference"
            if paired is None
            else f"{paired.mean:+.2f} [{paired.low:+.2f}, {paired.high:+.2f}]"
        )
        print(f"{label:<{width}} {team.games:>5} {team.wins:>4} {score:>22} {versus:>22}")
        for group in team.error_groups:  # games that raised, grouped by message
            print(f"   {group['games']} game(s) failed: {group['error']}")
    if not evaluation.complete:
        raise SystemExit("some games did not finish")


if __name__ == "__main__":
    main()
