"""Learning environments for vardelic: fixed action ids, observations, steppable games.

``Game`` is one game stepped by action id; ``VectorEnv`` steps a batch of games in C++ on
several threads; ``encode``, ``to_action`` and ``PolicyPlayer`` let a policy that maps
(observation, mask) to an id sit at a ``vardelic.VardelicGame`` table; ``NetworkPlayer`` plays
the learned policy that ships with the package (or other weights of its kind); ``GameRecord`` keeps a
game as its seed and ids and replays it, ``play_recorded`` records a game played with any
players. The README documents
the action ids and the observation layout.

With the ``rl`` extra installed, importing the package also registers the Gymnasium
environment ``vardelic/Vardelic-v0`` and exports ``VardelicEnv`` and ``VardelicVectorEnv``;
``vardelic_rl.pettingzoo`` holds the PettingZoo AEC environment.
"""

from ._vardelic_rl import (
    CHANGE_PLAYER,
    NUM_ACTIONS,
    OBSERVATION_LAYOUT,
    OBSERVATION_SIZE,
    REFILL_HAND,
    YIELD,
    Game,
    Result,
    VectorEnv,
    describe,
    encode,
    state_view,
    to_action,
)
from .network import NetworkPlayer, NetworkPolicy
from .policy import PolicyPlayer
from .records import GameRecord, play_recorded

try:
    import gymnasium as _gymnasium  # noqa: F401  (optional: the rl extra)
except ModuleNotFoundError:
    _environments = []
else:
    from .gym_env import VardelicEnv as VardelicEnv  # registers vardelic/Vardelic-v0
    from .vector_env import VardelicVectorEnv as VardelicVectorEnv

    _environments = ["VardelicEnv", "VardelicVectorEnv"]

__all__ = [
    "CHANGE_PLAYER",
    "NUM_ACTIONS",
    "OBSERVATION_LAYOUT",
    "OBSERVATION_SIZE",
    "REFILL_HAND",
    "YIELD",
    "Game",
    "GameRecord",
    "NetworkPlayer",
    "NetworkPolicy",
    "PolicyPlayer",
    "Result",
    "VectorEnv",
    "describe",
    "encode",
    "play_recorded",
    "state_view",
    "to_action",
    *_environments,
]
