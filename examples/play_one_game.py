"""Play one seeded game with built-in players and print every move and the result.

    python3 examples/play_one_game.py --players 2 --seed 7 --playouts 200
    python3 examples/play_one_game.py --human          # take seat 0 yourself at the terminal

Seat 0 is a search player (or you, with --human); the other seats are random players.
"""

from __future__ import annotations

import argparse

import vardelic
from vardelic import players


class Narrator:
    """A Python seat that lets a built-in player decide and prints each of its moves."""

    def __init__(self, name, player):
        self.name, self.player = name, player

    def play(self, state):
        action = self.player.play(state)  # built-in players can also be asked directly
        enemy = state.current_enemy()
        print(f"{self.name:>8} | {str(enemy):<68} | {action}", flush=True)
        return action


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--players", type=int, default=2, choices=[1, 2, 3, 4])
    parser.add_argument("--seed", type=int, default=7, help="game seed: the deal")
    parser.add_argument("--playouts", type=int, default=200, help="search playouts per decision")
    parser.add_argument("--threads", type=int, default=1, help="search threads per decision")
    parser.add_argument(
        "--human",
        action="store_true",
        help="seat an interactive player at seat 0 (type action numbers)",
    )
    parser.add_argument("--quiet", action="store_true", help="print only the result")
    args = parser.parse_args()

    seats: list = [players.RandomPlayer(seed=args.seed + i) for i in range(1, args.players)]
    if args.human:
        seats.insert(0, players.InputPlayer())  # asks at the terminal; not callable from Python
    else:
        seats.insert(0, players.MCTSPlayer(args.playouts, args.threads, True))
    if not args.quiet:
        # Wrap the players that Python can ask (not InputPlayer) to watch their moves.
        names = ["search"] + [f"random{i}" for i in range(1, args.players)]
        seats = [
            s if isinstance(s, players.InputPlayer) else Narrator(n, s)
            for n, s in zip(names, seats, strict=True)
        ]

    game = vardelic.VardelicGame(seats, seed=args.seed)
    try:
        result = game.playout()  # runs to the end: GameResult.Won or GameResult.Lost
    except vardelic.EngineError as err:  # a BaseException: e.g. "Error reading input."
        raise SystemExit(f"game stopped: {err}") from None
    won = result == type(result).Won  # or: int(result) == 0 (Won), 1 (Lost)
    print(
        f"result: {result!r} (int {int(result)}), enemies defeated: {game.reward()}"
        + (" - won!" if won else "")
    )


if __name__ == "__main__":
    main()
