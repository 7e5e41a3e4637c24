"""A learned policy that decides without search: a small network read with numpy.

:class:`NetworkPolicy` maps an observation to one logit per action id through a stack of
ReLU layers (the observation standardised first); illegal ids are never chosen. Its weights
live in one ``.npz`` file: ``mean``, ``inv_std``, ``w0``, ``b0``, ``w1``, ``b1``, ... and
``player_counts``, the player counts it was trained for (the observation tells the count, so
one file may serve several).

:class:`NetworkPlayer` seats it at a ``vardelic.VardelicGame`` table, in ``vardelic-arena`` as
``policy`` or ``policy(path=FILE)``, or anywhere a Python player goes. Without a path it plays
the weights that ship with the package, which ``examples/imitate_search.py`` trained by
imitating ``vardelic_agents.ISMCTSPlayer`` and then its own mistakes corrected by it.
"""

from __future__ import annotations

import functools
import os
import pathlib

import numpy as np

from ._vardelic_rl import NUM_ACTIONS, OBSERVATION_LAYOUT, OBSERVATION_SIZE, encode, to_action

# Resolved through links, so that a run from the build folder finds the file in the sources.
SHIPPED_NETWORK = pathlib.Path(os.path.realpath(__file__)).parent / "weights" / "policy_net.npz"

# Where the observation holds the player count, one-hot (1 to 4 players).
_COUNT_OFFSET = next(start for name, start, _, _ in OBSERVATION_LAYOUT if name == "num_players")


class NetworkPolicy:
    """Observation -> standardise -> (linear, ReLU)* -> linear -> the best legal id.

    ``policy(observation, mask)`` returns one id; ``logits(observations)`` scores a batch of rows
    and ``act(observations, masks)`` picks a batch of ids. Parameters are float32.
    """

    def __init__(self, params: dict[str, np.ndarray], player_counts=(1, 2, 3, 4)):
        self.player_counts = tuple(sorted(int(n) for n in player_counts))
        if not self.player_counts or not set(self.player_counts) <= {1, 2, 3, 4}:
            raise ValueError(f"player counts must be among 1..4, not {player_counts!r}")
        try:
            self.mean = np.asarray(params["mean"], dtype=np.float32)
            self.inv_std = np.asarray(params["inv_std"], dtype=np.float32)
        except KeyError as err:
            raise ValueError(f"network parameters lack {err.args[0]!r}") from None
        self.layers: list[tuple[np.ndarray, np.ndarray]] = []
        while f"w{len(self.layers)}" in params:
            i = len(self.layers)
            if f"b{i}" not in params:
                raise ValueError(f"network parameters lack 'b{i}'")
            self.layers.append(
                (np.asarray(params[f"w{i}"], np.float32), np.asarray(params[f"b{i}"], np.float32))
            )
        if not self.layers:
            raise ValueError("network parameters hold no layer ('w0')")
        width = OBSERVATION_SIZE
        if self.mean.shape != (width,) or self.inv_std.shape != (width,):
            raise ValueError(
                f"network standardises {self.mean.shape} values, observations have {width}"
            )
        for i, (w, b) in enumerate(self.layers):
            if w.ndim != 2 or w.shape[0] != width or b.shape != (w.shape[1],):
                raise ValueError(
                    f"network layer {i} has shapes {w.shape} and {b.shape}, "
                    f"which do not follow {width} inputs"
                )
            width = w.shape[1]
        if width != NUM_ACTIONS:
            raise ValueError(f"network ends in {width} outputs, not one per id ({NUM_ACTIONS})")
        # Standardisation folded into the first layer: one matrix product fewer per decision.
        w0, b0 = self.layers[0]
        self._first = (self.inv_std[:, None] * w0, b0 - (self.mean * self.inv_std) @ w0)

    @classmethod
    def load(cls, path: str | os.PathLike) -> NetworkPolicy:
        try:
            with np.load(path) as data:
                params = {name: data[name] for name in data.files}
        except (OSError, ValueError) as err:
            raise ValueError(
                f"cannot read network weights from {os.fspath(path)!r}: {err}"
            ) from None
        counts = params.pop("player_counts", (1, 2, 3, 4))
        return cls(params, player_counts=np.atleast_1d(counts).tolist())

    def save(self, path: str | os.PathLike) -> None:
        arrays = {"mean": self.mean, "inv_std": self.inv_std}
        for i, (w, b) in enumerate(self.layers):
            arrays[f"w{i}"], arrays[f"b{i}"] = w, b
        np.savez(path, player_counts=np.array(self.player_counts, np.int8), **arrays)

    def logits(self, observations: np.ndarray) -> np.ndarray:
        x = np.asarray(observations, dtype=np.float32)
        w, b = self._first
        for i in range(len(self.layers)):
            x = x @ w + b
            if i + 1 < len(self.layers):
                np.maximum(x, 0.0, out=x)
                w, b = self.layers[i + 1]
        return x

    def act(self, observations: np.ndarray, masks: np.ndarray) -> np.ndarray:
        """The best legal id of every row; a row without a legal id gets 0."""
        logits = self.logits(observations)
        return np.where(np.asarray(masks) != 0, logits, -np.inf).argmax(axis=-1)

    def __call__(self, observation: np.ndarray, mask: np.ndarray) -> int:
        observation = np.asarray(observation)
        if observation.shape != (OBSERVATION_SIZE,):
            raise ValueError(
                f"observation of shape {observation.shape}, expected ({OBSERVATION_SIZE},)"
            )
        legal = np.asarray(mask) != 0
        if legal.shape != (NUM_ACTIONS,) or not legal.any():
            raise ValueError("the mask allows no action")
        players = int(np.argmax(observation[_COUNT_OFFSET : _COUNT_OFFSET + 4])) + 1
        if players not in self.player_counts:
            raise ValueError(
                f"these weights were trained for {_counts_text(self.player_counts)}, "
                f"not {players} players"
            )
        return int(np.where(legal, self.logits(observation), -np.inf).argmax())


def _counts_text(counts) -> str:
    return " or ".join(str(n) for n in counts) + " players"


def shared_policy(path: str | os.PathLike | None = None) -> NetworkPolicy:
    """The policy in `path` (None: the shipped one), read once per process while the file is
    unchanged: players seated in game after game share it instead of reading it each time."""
    resolved = pathlib.Path(SHIPPED_NETWORK if path is None else path).resolve()
    try:
        stamp = resolved.stat().st_mtime_ns
    except OSError as err:
        raise ValueError(f"cannot read network weights from {os.fspath(path)!r}: {err}") from None
    return _read_policy(resolved, stamp)


@functools.lru_cache(maxsize=8)
def _read_policy(path: pathlib.Path, stamp: int) -> NetworkPolicy:
    return NetworkPolicy.load(path)


class NetworkPlayer:
    """A seat that plays a :class:`NetworkPolicy`: the shipped weights, or ``path``'s.

    Each decision is one pass through the network (no search, no randomness), so the same
    position always gets the same move.
    """

    def __init__(self, path: str | os.PathLike | None = None):
        self.path = pathlib.Path(SHIPPED_NETWORK if path is None else path)
        self.policy = shared_policy(self.path)

    def play(self, state):
        observation, mask = encode(state)
        return to_action(state, self.policy(observation, mask))

    def __repr__(self) -> str:
        return f"NetworkPlayer(path={os.fspath(self.path)!r})"
