"""Search decisions from Python, and solo strength against the random player.

Prints milliseconds per decision and playouts per second of MCTSPlayer(1000, t, h).play on
fresh 2-player states, then mean score and win rate of 50 solo games with
MCTSPlayer(1000, 2, True) against 50 games with RandomPlayer from the same seeds.
    python bench/player_bench.py [--json PATH] [--games 50] [--decisions 20]
"""

import argparse
import json
import time

from vardelic import VardelicGame, players

MCTSPlayer = players.MCTSPlayer
RandomPlayer = players.RandomPlayer

PLAYOUTS = 1000


class Capture:
    """Takes the first state it is shown and ends the game by raising."""

    class Done(Exception):
        pass

    def __init__(self):
        self.state = None

    def play(self, state):
        self.state = state
        raise Capture.Done


def fresh_state(seed: int, seats: int = 2):
    capture = Capture()
    game = VardelicGame([capture] * seats, seed=seed)
    try:
        game.playout()
    except Capture.Done:
        pass
    return capture.state


def decision_ms(threads: int, heuristics: bool, decisions: int) -> float:
    player = MCTSPlayer(PLAYOUTS, threads, heuristics)
    states = [fresh_state(seed) for seed in range(decisions)]
    player.play(states[0])  # warm-up
    start = time.perf_counter()
    for state in states:
        player.play(state)
    return (time.perf_counter() - start) * 1000 / len(states)


def solo(player_factory, games: int) -> tuple[float, float]:
    scores, wins = [], 0
    for seed in range(games):
        game = VardelicGame([player_factory(seed)], seed=seed)
        won = int(game.playout()) == 0
        wins += won
        scores.append(12 if won else game.reward())
    return sum(scores) / games, wins / games


def main() -> None:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--json", metavar="PATH")
    parser.add_argument("--games", type=int, default=50)
    parser.add_argument("--decisions", type=int, default=20)
    args = parser.parse_args()

    figures: dict = {"decision_ms": {}, "playouts_per_second": {}}
    print(f"{'threads':>8} {'heuristics':>11} {'ms/decision':>12} {'playouts/s':>12}")
    for heuristics in (True, False):
        for threads in (1, 2):
            ms = decision_ms(threads, heuristics, args.decisions)
            key = f"threads_{threads}" + ("" if heuristics else "_no_heuristics")
            figures["decision_ms"][key] = ms
            figures["playouts_per_second"][key] = PLAYOUTS / ms * 1000
            print(f"{threads:>8} {str(heuristics):>11} {ms:>12.1f} {PLAYOUTS / ms * 1000:>12.0f}")

    mcts_score, mcts_wins = solo(lambda seed: MCTSPlayer(PLAYOUTS, 2, True), args.games)
    random_score, random_wins = solo(lambda seed: RandomPlayer(seed), args.games)
    figures["solo_mean_score"] = {"mcts": mcts_score, "random": random_score}
    figures["solo_win_rate"] = {"mcts": mcts_wins, "random": random_wins}
    print(
        f"solo, {args.games} games: MCTSPlayer({PLAYOUTS}, 2, True) mean score {mcts_score:.2f}, "
        f"win rate {mcts_wins:.2f}; RandomPlayer mean score {random_score:.2f}, win rate {random_wins:.2f}"
    )
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({"player": figures}, f, indent=2)


if __name__ == "__main__":
    main()
