"""Learning environments for vardelic: fixed action ids, observations, steppable games.

``Game`` is one game stepped by action id; ``VectorEnv`` steps a batch of games in C++ on
several threads; ``encode``, ``to_action`` and ``PolicyPlayer`` let a policy that maps
(observation, mask) to an id sit at a ``vardelic.VardelicGame`` table. The README documents
the action ids and the observation layout.
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
    encode,
    to_action,
)
from .policy import PolicyPlayer

__all__ = [
    "CHANGE_PLAYER",
    "NUM_ACTIONS",
    "OBSERVATION_LAYOUT",
    "OBSERVATION_SIZE",
    "REFILL_HAND",
    "YIELD",
    "Game",
    "PolicyPlayer",
    "Result",
    "VectorEnv",
    "encode",
    "to_action",
]
