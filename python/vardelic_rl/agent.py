"""A small numpy policy over observations and masks, and a player that plays a saved one.

:class:`MaskedSoftmaxPolicy` is a one-hidden-layer network: the observation, standardised with
statistics fixed at the start of training, goes through a tanh layer to one logit per action id
(and to a value estimate, used only while training); illegal ids get probability 0. It needs
numpy alone, and saves to and loads from one ``.npz`` file.

:class:`TrainedPlayer` seats a saved policy in ``vardelic.VardelicGame`` or ``vardelic-arena``
(a :class:`vardelic_rl.PolicyPlayer`)::

    vardelic-arena --team 'py:vardelic_rl.agent:TrainedPlayer*2' --team 'random*2'

It loads the file named by the environment variable ``VARDELIC_RL_WEIGHTS``, else the policy
trained by ``examples/train_policy.py`` that ships with the package (two players).
"""

from __future__ import annotations

import os
import pathlib

import numpy as np

from vardelic_rl._vardelic_rl import NUM_ACTIONS
from vardelic_rl.policy import PolicyPlayer

# Resolved through links, so that a run from the build folder finds the file in the sources.
SHIPPED_WEIGHTS = pathlib.Path(os.path.realpath(__file__)).parent / "weights" / "policy_2p.npz"
WEIGHTS_VARIABLE = "VARDELIC_RL_WEIGHTS"
_PARAMETERS = ("mean", "inv_std", "w1", "b1", "w2", "b2", "wv", "bv")


def masked_softmax(logits: np.ndarray, masks: np.ndarray) -> np.ndarray:
    """Row-wise softmax over the ids a mask allows (nonzero: bool or int8 alike); a row without
    any legal id is all zeros."""
    legal = masks != 0
    z = np.where(legal, logits, -np.inf)
    top = z.max(axis=-1, keepdims=True)
    e = np.exp(z - np.where(np.isfinite(top), top, 0.0))
    total = e.sum(axis=-1, keepdims=True)
    return np.divide(e, total, out=np.zeros_like(e), where=total > 0)


class MaskedSoftmaxPolicy:
    """Observation -> standardise -> tanh(hidden) -> masked softmax over NUM_ACTIONS ids (+ a value).

    Called as ``policy(observation, mask)`` it returns one id: the most probable legal one when
    ``greedy`` (the default), else one drawn from the distribution with its own generator.
    """

    def __init__(self, params: dict[str, np.ndarray], greedy: bool = True, seed: int | None = None):
        missing = [name for name in _PARAMETERS if name not in params]
        if missing:
            raise ValueError(f"policy parameters lack {missing}")
        self.params = {name: np.asarray(params[name], dtype=np.float64) for name in _PARAMETERS}
        size, hidden = self.params["w1"].shape
        expected = {
            "mean": (size,),
            "inv_std": (size,),
            "b1": (hidden,),
            "w2": (hidden, NUM_ACTIONS),
            "b2": (NUM_ACTIONS,),
            "wv": (hidden,),
            "bv": (),
        }
        for name, shape in expected.items():
            if self.params[name].shape != shape:
                raise ValueError(
                    f"policy parameter {name} has shape {self.params[name].shape}, expected {shape}"
                )
        self.greedy = greedy
        self.rng = np.random.default_rng(seed)

    @classmethod
    def initial(
        cls,
        observation_size: int,
        hidden: int = 64,
        seed: int | None = None,
        mean: np.ndarray | None = None,
        std: np.ndarray | None = None,
    ):
        """Fresh weights: small random hidden layer, zero output layer (a uniform policy)."""
        rng = np.random.default_rng(seed)
        std = np.ones(observation_size) if std is None else np.maximum(std, 1e-3)
        return cls(
            {
                "mean": np.zeros(observation_size) if mean is None else mean,
                "inv_std": 1.0 / std,
                "w1": rng.normal(0.0, 1.0 / np.sqrt(observation_size), (observation_size, hidden)),
                "b1": np.zeros(hidden),
                "w2": np.zeros((hidden, NUM_ACTIONS)),
                "b2": np.zeros(NUM_ACTIONS),
                "wv": np.zeros(hidden),
                "bv": np.zeros(()),
            },
            seed=seed,
        )

    @property
    def observation_size(self) -> int:
        return self.params["w1"].shape[0]

    def forward(self, observations: np.ndarray):
        """(standardised input, hidden activations, logits, values) for a batch of rows."""
        p = self.params
        x = (np.asarray(observations, dtype=np.float64) - p["mean"]) * p["inv_std"]
        h = np.tanh(x @ p["w1"] + p["b1"])
        return x, h, h @ p["w2"] + p["b2"], h @ p["wv"] + p["bv"]

    def probabilities(self, observations: np.ndarray, masks: np.ndarray) -> np.ndarray:
        return masked_softmax(self.forward(observations)[2], masks)

    def sample(self, probabilities: np.ndarray) -> np.ndarray:
        """One id per row drawn from its probabilities (0 for a row without legal ids)."""
        cumulative = probabilities.cumsum(axis=-1)
        u = self.rng.random(len(probabilities))[:, None] * cumulative[:, -1:]
        return (cumulative > u).argmax(axis=-1)

    def __call__(self, observation: np.ndarray, mask: np.ndarray) -> int:
        observation = np.asarray(observation)
        if observation.shape != (self.observation_size,):
            raise ValueError(
                f"observation of shape {observation.shape}, policy expects "
                f"({self.observation_size},)"
            )
        mask = np.asarray(mask)
        if not mask.any():
            raise ValueError("no legal action in the mask")
        probabilities = self.probabilities(observation[None], mask[None])
        if self.greedy:
            return int(probabilities[0].argmax())
        return int(self.sample(probabilities)[0])

    def save(self, path: str | os.PathLike) -> None:
        np.savez(path, **{name: value.astype(np.float32) for name, value in self.params.items()})

    @classmethod
    def load(cls, path: str | os.PathLike, greedy: bool = True, seed: int | None = None):
        with np.load(path) as data:
            return cls({name: data[name] for name in data.files}, greedy=greedy, seed=seed)


class TrainedPlayer(PolicyPlayer):
    """A player object for ``VardelicGame`` and ``vardelic-arena`` ``py:`` seats.

    ``weights``: a ``.npz`` written by ``examples/train_policy.py``; by default the file named
    by ``VARDELIC_RL_WEIGHTS``, else the shipped two-player policy. ``greedy=True`` plays the
    most probable legal id; ``greedy=False`` draws from the policy with ``seed``.
    """

    def __init__(
        self, weights: str | os.PathLike | None = None, greedy: bool = True, seed: int | None = None
    ):
        if weights is None:
            weights = os.environ.get(WEIGHTS_VARIABLE) or SHIPPED_WEIGHTS
        self.weights = pathlib.Path(weights)
        super().__init__(MaskedSoftmaxPolicy.load(self.weights, greedy=greedy, seed=seed))
