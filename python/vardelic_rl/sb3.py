"""Stable-Baselines3 on the native batch: :class:`VardelicVecEnv`, a ``VecEnv`` stepped in C++.

Stable-Baselines3 takes its own ``VecEnv`` type, not Gymnasium's vector environments; this one
steps ``vardelic_rl.VectorEnv`` directly, so no Python environment runs per game::

    from sb3_contrib import MaskablePPO
    from vardelic_rl.sb3 import VardelicVecEnv

    model = MaskablePPO("MlpPolicy", VardelicVecEnv(64, num_players=2, num_threads=2, seed=0))
    model.learn(100_000)

Needs the ``train`` extra (torch, stable-baselines3, sb3-contrib).
"""

from __future__ import annotations

import time
from collections.abc import Sequence
from typing import Any

import numpy as np
from gymnasium import spaces
from stable_baselines3.common.vec_env import VecEnv
from stable_baselines3.common.vec_env.base_vec_env import VecEnvIndices

import vardelic_rl

from . import _common


class VardelicVecEnv(VecEnv):
    """``num_envs`` games of ``num_players`` seats, stepped together on ``num_threads`` threads.

    As with one ``VardelicEnv`` per copy (one agent plays every seat): each row of the
    observations is the view of that game's player to move, the reward of a step is the enemies
    it defeated, and an episode's return is its score. A game that ends restarts in the same
    step, as every Stable-Baselines3 ``VecEnv`` does: ``dones[i]`` is True, the observation is
    the new game's, and ``infos[i]`` holds ``terminal_observation`` (the last position, seen by
    the player who ended it) and ``episode`` (``{"r": score, "l": steps, "t": seconds}``, as
    ``Monitor`` reports it, so the logger shows ``ep_rew_mean``). Nothing is truncated.

    Masks: :meth:`action_masks` gives the ``[num_envs, 261]`` booleans and
    ``env_method("action_masks")`` one row per game, which is how sb3-contrib's ``MaskablePPO``
    reads them. An illegal id raises ValueError naming the game and the id, and no game moves.

    Seeding: ``seed`` (or :meth:`seed`, which Stable-Baselines3 calls with the model's seed)
    applies at the next :meth:`reset` and deals as ``VardelicVectorEnv.reset(seed=seed)``, so
    game 0's first deal is that of ``VardelicEnv().reset(seed=seed)``. Without a seed each
    reset moves every played game on to its next deal.
    """

    def __init__(
        self,
        num_envs: int,
        num_players: int = 2,
        num_threads: int = 1,
        seed: int | None = None,
    ):
        self.num_players = _common.check_num_players(num_players)
        self.render_mode = None  # read by VecEnv.__init__ through get_attr
        self._batch = vardelic_rl.VectorEnv(num_envs, self.num_players, num_threads=num_threads)
        super().__init__(
            self._batch.num_envs, _common.observation_space(), spaces.Discrete(_common.NUM_ACTIONS)
        )
        self._pending_seed = seed
        self._actions: np.ndarray | None = None
        self._masks = self._batch.reset()[1]
        self._returns = np.zeros(self.num_envs, dtype=np.float64)
        self._lengths = np.zeros(self.num_envs, dtype=np.int64)
        self._start = time.time()

    @property
    def num_threads(self) -> int:
        return self._batch.num_threads

    def seed(self, seed: int | None = None) -> Sequence[int | None]:
        """Deals the next :meth:`reset` from ``seed``; returns the seeds of those first deals."""
        if seed is None:
            seed = int(np.random.randint(0, np.iinfo(np.uint32).max, dtype=np.uint32))
        self._pending_seed = seed
        base = _common.draw_deal(np.random.default_rng(seed))
        return [(base + i) % 2**64 for i in range(self.num_envs)]

    def reset(self) -> np.ndarray:
        if self._pending_seed is None:
            observations, masks = self._batch.reset()
        else:
            base = _common.draw_deal(np.random.default_rng(self._pending_seed))
            self._pending_seed = None
            observations, masks = self._batch.reset(seed=base)
        self._masks = masks
        self._returns[:] = 0.0
        self._lengths[:] = 0
        self.reset_infos = [{} for _ in range(self.num_envs)]
        self._reset_options()
        return observations.copy()

    def step_async(self, actions: np.ndarray) -> None:
        self._actions = actions

    def step_wait(self):
        if self._actions is None:
            raise RuntimeError("step_wait() without step_async()")
        actions, self._actions = self._actions, None
        # The batch's buffers are overwritten by the next step: hand out copies.
        observations, self._masks, rewards, terminations = self._batch.step(actions)
        self._returns += rewards
        self._lengths += 1
        infos: list[dict[str, Any]] = [{} for _ in range(self.num_envs)]
        finished = np.flatnonzero(terminations)
        if finished.size:
            final = self._batch.final_observations()[finished]  # a copy: rows are its own
            elapsed = round(time.time() - self._start, 6)
            scores = self._returns[finished].tolist()
            lengths = self._lengths[finished].tolist()
            for row, i in enumerate(finished.tolist()):
                infos[i]["terminal_observation"] = final[row]
                infos[i]["episode"] = {"r": scores[row], "l": lengths[row], "t": elapsed}
            self._returns[finished] = 0.0
            self._lengths[finished] = 0
        return observations.copy(), rewards.copy(), terminations.copy(), infos

    def action_masks(self) -> np.ndarray:
        """The current ``[num_envs, 261]`` masks as booleans."""
        return self._masks.astype(bool)

    def close(self) -> None:
        pass

    # The games are not Python objects: every one has this VecEnv's attributes, and the only
    # per-game method is ``action_masks``.
    def get_attr(self, attr_name: str, indices: VecEnvIndices = None) -> list[Any]:
        value = getattr(self, attr_name)
        return [value for _ in self._get_indices(indices)]

    def set_attr(self, attr_name: str, value: Any, indices: VecEnvIndices = None) -> None:
        raise AttributeError(
            f"cannot set {attr_name!r}: the games of a VardelicVecEnv share one native batch"
        )

    def env_method(
        self, method_name: str, *method_args, indices: VecEnvIndices = None, **method_kwargs
    ) -> list[Any]:
        if method_name != "action_masks":
            raise AttributeError(
                f"VardelicVecEnv's games have no method {method_name!r} (only 'action_masks')"
            )
        masks = self.action_masks()
        if indices is None:
            return list(masks)  # one row per game, the way sb3-contrib stacks them
        return [masks[i] for i in self._get_indices(indices)]

    def env_is_wrapped(self, wrapper_class: type, indices: VecEnvIndices = None) -> list[bool]:
        return [False for _ in self._get_indices(indices)]
