"""A Gymnasium vector environment over the native batch: whole batches step in C++.

``gymnasium.make_vec("vardelic/Vardelic-v0", num_envs=N, vectorization_mode="vector_entry_point",
num_players=P)`` builds one, or construct :class:`VardelicVectorEnv` directly.
"""

from __future__ import annotations

from typing import Any, ClassVar

import gymnasium
import numpy as np
from gymnasium import spaces
from gymnasium.vector import AutoresetMode
from gymnasium.vector.utils import batch_space

import vardelic_rl

from . import _common


class VardelicVectorEnv(gymnasium.vector.VectorEnv):
    """``num_envs`` games of ``num_players`` seats, stepped together on ``num_threads`` threads.

    The Gymnasium vector environment (spaces, ``infos``, same-step autoreset) over the native
    batch :class:`vardelic_rl.VectorEnv`, which steps the games in C++ and has no Gymnasium layer.

    Each row is the view of its game's player to move; ``infos["action_mask"]`` holds the
    ``[num_envs, NUM_ACTIONS]`` int8 masks. Rewards are the enemies each step defeated. A game
    restarts in the step that ends it (Gymnasium's same-step autoreset): that step returns the
    reward of the step that finished the game and ``terminations[i] = True`` with the new game's
    observation and mask. The final observation is not kept (``infos`` has no ``final_obs``): a
    finished game has no future, so no trainer needs its value. Nothing is ever truncated. An
    illegal id raises ValueError and no game moves (the README's table "Illegal ids").

    ``reset(seed=s)`` deals game ``i``'s ``k``-th episode from ``B + i + k * num_envs``, with
    ``B`` drawn from the environment's generator seeded with ``s``: game 0's first deal equals
    that of ``VardelicEnv().reset(seed=s)``. ``copy=False`` returns the native batch's own
    arrays, which the next step overwrites.
    """

    metadata: ClassVar[dict] = {"autoreset_mode": AutoresetMode.SAME_STEP, "render_modes": []}

    def __init__(
        self,
        num_envs: int = 1,
        num_players: int = 2,
        num_threads: int = 1,
        copy: bool = True,
        render_mode: None = None,
    ):
        self.num_players = _common.check_num_players(num_players)
        _common.check_render_mode(render_mode, self.metadata["render_modes"])
        self.num_envs = num_envs
        self.render_mode = None
        self.copy = copy
        self._batch = vardelic_rl.VectorEnv(num_envs, self.num_players, num_threads=num_threads)
        self.single_observation_space = _common.observation_space()
        self.single_action_space = spaces.Discrete(_common.NUM_ACTIONS)
        self.observation_space = batch_space(self.single_observation_space, num_envs)
        self.action_space = batch_space(self.single_action_space, num_envs)
        self._truncations = np.zeros(num_envs, dtype=bool)
        self._has_mask = np.ones(num_envs, dtype=bool)
        self._started = False

    def reset(self, *, seed: int | None = None, options: dict[str, Any] | None = None):
        if seed is not None and not isinstance(seed, int):
            raise TypeError(
                "seed must be one int for the whole batch (its games are dealt "
                f"from it), not {type(seed).__name__}"
            )
        super().reset(seed=seed)
        observations, masks = self._batch.reset(seed=_common.draw_deal(self.np_random))
        self._started = True
        return self._out(observations), self._infos(masks)

    def step(self, actions):
        if not self._started:
            raise gymnasium.error.ResetNeeded("call reset() before step()")
        # The batch checks shape, dtype and legality before any game moves.
        observations, masks, rewards, terminations = self._batch.step(actions)
        return (
            self._out(observations),
            self._out(rewards),
            self._out(terminations),
            self._truncations.copy() if self.copy else self._truncations,
            self._infos(masks),
        )

    def action_masks(self) -> np.ndarray:
        """The current ``[num_envs, NUM_ACTIONS]`` masks as booleans (masked trainers' convention)."""
        if not self._started:
            raise gymnasium.error.ResetNeeded("call reset() before action_masks()")
        return self._masks.astype(bool)

    def _out(self, array: np.ndarray) -> np.ndarray:
        return array.copy() if self.copy else array

    def _infos(self, masks: np.ndarray) -> dict[str, np.ndarray]:
        self._masks = masks
        return {
            "action_mask": self._out(masks),
            "_action_mask": self._has_mask.copy(),
            "player": self._batch.current_players().copy(),
            "_player": self._has_mask.copy(),
        }
