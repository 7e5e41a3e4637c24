"""A hand-written heuristic player in Python, seated beside the built-in players.

A Python player is any object with a method play(state) that returns one of the state's
legal actions. Cards, enemies and actions expose no attributes: the player reads them from
their text (str()) and recognises actions by class and by comparing them with actions it
builds itself.

    python3 examples/python_player.py --games 20 --players 2

The class is constructible without arguments, so the arena can seat it too:
    vardelic-arena --team 'py:examples/python_player.py:HeuristicPlayer,random' --games 50
"""

from __future__ import annotations

import argparse
import itertools
import re
import statistics

import vardelic
from vardelic import actions, players

ANSI = re.compile(r"\x1b\[[0-9;]*m")  # colour codes, present when colours are on
SUITS = "♠♥♦♣"
ATTACK = {"Jester": 0, "A": 1, "J": 10, "Q": 15, "K": 20} | {str(n): n for n in range(2, 11)}
ENEMY = re.compile(r"card: (\S+), health: (-?\d+), attack: (\d+), jester_applied: (true|false)")


def plain(obj) -> str:
    return ANSI.sub("", str(obj))


def suit_and_attack(card) -> tuple[str | None, int]:
    """('♥', 12) style facts of a card, read from its text ("♥Q", "♣10", "Jester")."""
    text = plain(card)
    if text[0] in SUITS:
        return text[0], ATTACK[text[1:]]
    return None, ATTACK[text]


class HeuristicPlayer:
    """Kills when it can, otherwise hits as hard as it can while surviving the counter-attack,
    and discards as little value as possible."""

    def play(self, state):
        legal = state.action_space()
        hand = state.current_hand()
        enemy = state.current_enemy()
        if enemy is None or len(legal) == 1:
            return legal[0]  # the castle is empty (any attack wins) or there is no choice
        changes = [a for a in legal if isinstance(a, actions.ActionChangePlayer)]
        if changes:  # a jester was played: name who moves next
            me = int(state.has_turn())
            return changes[me] if len(hand) >= 3 else changes[(me + 1) % len(changes)]
        if any(isinstance(a, actions.ActionDiscard) for a in legal):
            return self.discard(legal, hand)
        return self.attack(legal, hand, enemy)

    @staticmethod
    def discard(legal, hand):
        # Every legal discard covers the enemy's attack: give up the least value, then the
        # fewest cards.
        best = None
        for size in range(1, len(hand) + 1):
            for cards in itertools.combinations(hand, size):
                action = actions.ActionDiscard(list(cards))
                if action in legal:
                    key = (sum(suit_and_attack(c)[1] for c in cards), size)
                    if best is None or key < best[0]:
                        best = (key, action)
        return best[1] if best else legal[0]

    @staticmethod
    def attack(legal, hand, enemy):
        suit_text, health, attack, jester = ENEMY.search(plain(enemy)).groups()
        immune = None if jester == "true" else suit_text[0]
        health, attack = int(health), int(attack)
        hand_value = sum(suit_and_attack(c)[1] for c in hand)

        # The attacking actions, rebuilt from the hand so that their cards are known.
        candidates = [([c], actions.ActionPlay(c)) for c in hand]
        candidates += [
            ([a, b], actions.ActionAnimalCombo(a, b)) for a, b in itertools.permutations(hand, 2)
        ]
        candidates += [
            (list(cs), actions.ActionCombo(list(cs)))
            for n in (2, 3, 4)
            for cs in itertools.combinations(hand, n)
        ]

        best = None
        for cards, action in candidates:
            if action not in legal:
                continue
            facts = [suit_and_attack(c) for c in cards]
            damage = sum(value for _, value in facts)
            powers = {suit for suit, _ in facts} - {immune, None}
            if None in {suit for suit, _ in facts}:  # a jester: no counter-attack this turn
                key = (1, -1, 0)
            else:
                hit = damage * 2 if "♣" in powers else damage
                counter = max(0, attack - damage) if "♠" in powers else attack
                if hit >= health:  # defeats the enemy: exact kills first, then cheapest
                    key = (2, hit == health, -damage)
                elif hand_value - damage >= counter:  # survives: hit hardest
                    key = (1, hit, -damage)
                else:
                    key = (0, hit, -damage)
            if best is None or key > best[0]:
                best = (key, action)
        if best is None or best[0][0] == 0:
            # Nothing survives: a solo player trades the hand in when it still can.
            refill = [a for a in legal if type(a).__name__ == "ActionRefillHand"]
            if refill:
                return refill[0]
        return best[1] if best else legal[0]


def mean_score(make_team, games: int, seed: int) -> float:
    scores = []
    for game_seed in range(seed, seed + games):
        game = vardelic.VardelicGame(make_team(game_seed), seed=game_seed)
        game.playout()
        scores.append(game.reward())  # enemies defeated; 12 when won
    return statistics.mean(scores)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--games", type=int, default=20, help="deals per team")
    parser.add_argument("--players", type=int, default=2, choices=[1, 2, 3, 4])
    parser.add_argument("--seed", type=int, default=0, help="first game seed")
    args = parser.parse_args()

    # Both teams play the same deals; the random seats get seeds from the game seed.
    def randoms(game_seed, count):
        return [players.RandomPlayer(seed=game_seed * 10 + i) for i in range(count)]

    others = args.players - 1
    teams = {
        "random only": lambda s: randoms(s, args.players),
        "heuristic + random": lambda s: [HeuristicPlayer()] + randoms(s, others),
    }
    print(
        f"{args.games} deals, {args.players} player(s), seeds {args.seed}..{args.seed + args.games - 1}"
    )
    for name, make_team in teams.items():
        print(f"{name:>20}: mean score {mean_score(make_team, args.games, args.seed):.2f}")


if __name__ == "__main__":
    main()
