"""The game as a Gymnasium environment, one agent playing every seat.

The game is cooperative: every player scores the same number of defeated enemies, so one agent
plays all seats and each observation is the view of the player to move. The reward of a step is
the number of enemies that step defeated; an episode's return is the game's score (12 = won).

Importing this module registers ``vardelic/Vardelic-v0``, with a single-environment entry point
(:class:`VardelicEnv`) and a vector entry point (:class:`vardelic_rl.vector_env.VardelicVectorEnv`)
for ``gymnasium.make_vec(..., vectorization_mode="vector_entry_point")``.

An id the state does not allow is a no-op reported in ``info["illegal_action"]`` (Gymnasium's
checker steps with unmasked ids); the README's table "Illegal ids" gives every entry point's
rule. A step after the end raises ``ResetNeeded``.
"""

from __future__ import annotations

from typing import Any, ClassVar

import gymnasium
import numpy as np
from gymnasium import logger, spaces

import vardelic_rl

from . import _common

ENV_ID = "vardelic/Vardelic-v0"


class VardelicEnv(gymnasium.Env):
    """One game per episode; ``num_players`` seats (1 to 4), all played by the agent.

    ``reset(seed=...)`` deals from the environment's own generator, so a seeded reset and the
    resets after it repeat. ``info`` holds ``action_mask`` (int8, ``NUM_ACTIONS`` entries, 1 = legal: the
    dtype ``action_space.sample(mask=...)`` asserts),
    ``player`` (the seat to move) and ``illegal_action``; :meth:`action_masks` gives the mask
    as booleans for masked-action trainers. ``render_mode="rgb_array"`` makes :meth:`render`
    return a picture of the table from the seat to move (:mod:`vardelic_rl.picture`), ``"ansi"``
    the state's text, and ``"human"`` prints it.
    """

    metadata: ClassVar[dict] = {"render_modes": ["ansi", "human", "rgb_array"], "render_fps": 4}

    def __init__(self, num_players: int = 2, render_mode: str | None = None):
        self.num_players = _common.check_num_players(num_players)
        _common.check_render_mode(render_mode, self.metadata["render_modes"])
        self.render_mode = render_mode
        self.observation_space = _common.observation_space()
        self.action_space = spaces.Discrete(_common.NUM_ACTIONS)
        self.illegal_actions = 0
        self._warned = False
        self._game = None
        # The game's observation after its last move is shown from the seat that made it.
        self._last_player = 0

    @property
    def game(self) -> vardelic_rl.Game:
        """The running game (read it; stepping it directly bypasses the environment)."""
        if self._game is None:
            raise gymnasium.error.ResetNeeded("call reset() before using the environment")
        return self._game

    def reset(self, *, seed: int | None = None, options: dict[str, Any] | None = None):
        super().reset(seed=seed)
        self._game = vardelic_rl.Game(self.num_players, seed=_common.draw_deal(self.np_random))
        self._last_player = self._game.current_player()
        if self.render_mode == "human":
            self.render()
        return self._observation(), self._info(illegal=False)

    def step(self, action):
        game = self.game
        action = _common.action_id(action)
        if game.done:
            raise gymnasium.error.ResetNeeded("the game is over: call reset()")
        if not game.action_mask()[action]:
            self.illegal_actions += 1
            if not self._warned:
                logger.warn(
                    f"action id {action} is not legal here; the game is unchanged "
                    "(info['illegal_action'] is True; use info['action_mask'])"
                )
                self._warned = True
            return self._observation(), 0.0, False, False, self._info(illegal=True)
        self._last_player = game.current_player()
        defeated = game.step(action)
        if self.render_mode == "human":
            self.render()
        return (
            self._observation(),
            float(defeated),
            bool(game.done),
            False,
            self._info(illegal=False),
        )

    def action_masks(self) -> np.ndarray:
        """The legal ids as ``NUM_ACTIONS`` booleans (all False once the game is over)."""
        return self.game.action_mask().astype(bool)

    def render(self) -> str | np.ndarray | None:
        return _common.render(self.game, self.render_mode, self._player())

    def _player(self) -> int:
        return self._last_player if self._game.done else self._game.current_player()

    def _observation(self) -> np.ndarray:
        return self._game.observation(self._player())

    def _info(self, *, illegal: bool) -> dict[str, Any]:
        return {
            "action_mask": self._game.action_mask(),
            "player": self._player(),
            "illegal_action": illegal,
        }


def register() -> None:
    """Registers ``vardelic/Vardelic-v0`` once (importing this module does it)."""
    if ENV_ID not in gymnasium.registry:
        gymnasium.register(
            id=ENV_ID,
            entry_point="vardelic_rl.gym_env:VardelicEnv",
            vector_entry_point="vardelic_rl.vector_env:VardelicVectorEnv",
            kwargs={"num_players": 2},
        )


register()
