"""Stand-in for the game engine with the same Python surface, used to test
the arena without the extension: deterministic per seed for seeded random
players, non-deterministic for the search player, optionally slow.

ARENA_FAKE_DELAY (seconds per turn) makes games slow enough to interrupt.
"""

import os
import random
import time
import types

_MASK = 2**64 - 1


def _mix(*values):
    x = 0x243F6A8885A308D3
    for v in values:
        x = ((x ^ (v & _MASK)) * 0x100000001B3 + 0x9E3779B97F4A7C15) & _MASK
        x ^= x >> 29
    return x


class InternalFailure(BaseException):
    """Like the engine's internal failures: not an Exception."""


class GameResult:
    def __init__(self, value):
        self.value = value

    def __int__(self):
        return self.value


GameResult.Won = GameResult(0)
GameResult.Lost = GameResult(1)


class Action:
    def __init__(self, index):
        self.index = index

    def __eq__(self, other):
        return isinstance(other, Action) and other.index == self.index

    __hash__ = None


class PyState:
    def __init__(self, seed, turn, level, players):
        self._seed, self._turn, self._level, self._players = seed, turn, level, players

    def action_space(self):
        return [Action(i) for i in range(2 + _mix(self._seed, self._turn) % 3)]

    def has_turn(self):
        return self._turn % self._players

    def reward(self):
        return self._level

    def _outcome(self, index):
        roll = _mix(self._seed, self._turn, index, 7) % 100
        return -1 if roll < 8 else (1 if roll < 40 else 0)


class VardelicGame:
    def __init__(self, players, seed=None):
        players = list(players)
        if not 1 <= len(players) <= 4:
            raise ValueError("Only 1-4 players are allowed")
        self._players = players
        self._seed = random.getrandbits(64) if seed is None else seed
        self._turn = 0
        self._level = 0

    def _state(self):
        return PyState(self._seed, self._turn, self._level, len(self._players))

    def playout(self):
        delay = float(os.environ.get("ARENA_FAKE_DELAY", "0"))
        while True:
            state = self._state()
            action = self._players[state.has_turn()].play(state=state)
            if not isinstance(action, Action):
                raise TypeError("not an action")
            if action not in state.action_space():
                raise KeyError("not a legal action")
            if delay:
                time.sleep(delay)
            outcome = state._outcome(action.index)
            if outcome < 0 or self._turn >= 200:
                return GameResult(1)
            self._level += outcome
            if self._level == 12:
                return GameResult(0)
            self._turn += 1

    def reward(self):
        return self._level


class RandomPlayer:
    def __init__(self, seed=None):
        self._rng = random.Random(seed)

    def play(self, state):
        actions = state.action_space()
        return actions[self._rng.randrange(len(actions))]


class MCTSPlayer:
    def __init__(
        self,
        playouts,
        num_threads,
        use_heuristics,
        policy_variation=None,
        deterministic_samples=None,
    ):
        self._policy = policy_variation
        self._idle = num_threads == 0 and playouts != 0

    def play(self, state):
        if self._idle:
            raise InternalFailure("assertion failed: num_threads != 0")
        if self._policy is not None and (self._policy == 1 or self._policy > 4):
            raise InternalFailure(f"Could not determine policy from number '{self._policy}'")
        actions = state.action_space()
        # Sees the outcome most of the time, so it beats random play, but
        # draws fresh entropy like the real search.
        if random.SystemRandom().random() < 0.2:
            return random.SystemRandom().choice(actions)
        return max(actions, key=lambda a: state._outcome(a.index))


players = types.SimpleNamespace(RandomPlayer=RandomPlayer, MCTSPlayer=MCTSPlayer)
