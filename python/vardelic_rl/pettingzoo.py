"""The game as a PettingZoo AEC environment: agents ``player_0`` .. ``player_{N-1}``.

Every agent observes ``{"observation": float32 view of its own seat, "action_mask": int8}``;
the mask is all zeros for every agent but the one to move, so that it reveals nothing of the
mover's hand. The game is cooperative: each step's reward (the enemies it defeated) goes to
every agent, so each agent's return is the game's score. The same agent may move several times
in a row (after a defeat the attacker attacks again; after a jester its player names anyone).

:class:`raw_env` raises ValueError for an illegal id; :func:`env` wraps it in the library's
usual wrappers, where an illegal id ends the game and calls out of order (``step`` before
``reset``) raise. The README's table "Illegal ids" gives every entry point's rule.
"""

from __future__ import annotations

import operator
from typing import Any, ClassVar

import numpy as np
from gymnasium import spaces
from pettingzoo import AECEnv
from pettingzoo.utils import wrappers

import vardelic_rl

from . import _common

ILLEGAL_REWARD = -1.0


def env(num_players: int = 2, render_mode: str | None = None) -> AECEnv:
    """The environment with PettingZoo's usual wrappers (an illegal id ends the game)."""
    wrapped = raw_env(num_players=num_players, render_mode=render_mode)
    wrapped = _TerminateIllegal(wrapped, illegal_reward=ILLEGAL_REWARD)
    wrapped = _AssertOutOfBounds(wrapped)
    return _OrderEnforcing(wrapped)


# The fields every turn reads. A PettingZoo wrapper forwards a field it does not hold through
# __getattr__, after a failed lookup, one level per wrapper: with three wrappers that was most
# of a turn's cost. The subclasses below read them from the unwrapped environment, where they
# live; the wrappers' own behaviour is unchanged.
_FIELDS = (
    "agents",
    "rewards",
    "terminations",
    "truncations",
    "infos",
    "agent_selection",
    "_cumulative_rewards",
)


def _forward(name: str) -> property:
    def set_field(self, value):
        setattr(self._raw, name, value)

    return property(operator.attrgetter(f"_raw.{name}"), set_field)


def _forward_after_reset(name: str) -> property:
    def get_field(self):
        if not self._has_reset:  # as the wrapper's own lookup: no fields before reset()
            raise AttributeError(f"{name} cannot be accessed before reset")
        return getattr(self._raw, name)

    return property(get_field, _forward(name).fset)


def _with_direct_fields(wrapper: type, forward=_forward) -> type:
    def __init__(self, env, *args, **kwargs):
        self._raw = env.unwrapped
        wrapper.__init__(self, env, *args, **kwargs)

    fields = {name: forward(name) for name in _FIELDS}
    return type(wrapper.__name__, (wrapper,), {"__init__": __init__, **fields})


_TerminateIllegal = _with_direct_fields(wrappers.TerminateIllegalWrapper)
_AssertOutOfBounds = _with_direct_fields(wrappers.AssertOutOfBoundsWrapper)
_OrderEnforcing = _with_direct_fields(wrappers.OrderEnforcingWrapper, _forward_after_reset)


class raw_env(AECEnv):
    """The unwrapped AEC environment; prefer :func:`env`."""

    metadata: ClassVar[dict] = {
        "render_modes": ["human", "ansi", "rgb_array"],
        "name": "vardelic_v0",
        "is_parallelizable": False,
        "render_fps": 4,
    }

    def __init__(self, num_players: int = 2, render_mode: str | None = None):
        super().__init__()
        self.num_players = _common.check_num_players(num_players)
        _common.check_render_mode(render_mode, self.metadata["render_modes"])
        self.render_mode = render_mode
        self.possible_agents = [f"player_{i}" for i in range(self.num_players)]
        self._index = {agent: i for i, agent in enumerate(self.possible_agents)}
        self.observation_spaces = {
            agent: spaces.Dict(
                {"observation": _common.observation_space(), "action_mask": _common.mask_space()}
            )
            for agent in self.possible_agents
        }
        self.action_spaces = {
            agent: spaces.Discrete(_common.NUM_ACTIONS) for agent in self.possible_agents
        }
        self._rng = np.random.default_rng()
        self._game = None

    def observation_space(self, agent: str) -> spaces.Space:
        return self.observation_spaces[agent]

    def action_space(self, agent: str) -> spaces.Space:
        return self.action_spaces[agent]

    @property
    def game(self) -> vardelic_rl.Game:
        """The running game (read it; stepping it directly bypasses the environment)."""
        if self._game is None:
            raise RuntimeError("call reset() before using the environment")
        return self._game

    def reset(self, seed: int | None = None, options: dict[str, Any] | None = None) -> None:
        if seed is not None:
            self._rng = np.random.default_rng(seed)
        self._game = vardelic_rl.Game(self.num_players, seed=_common.draw_deal(self._rng))
        self.agents = self.possible_agents[:]
        self.rewards = dict.fromkeys(self.agents, 0.0)
        self._cumulative_rewards = dict.fromkeys(self.agents, 0.0)
        self.terminations = dict.fromkeys(self.agents, False)
        self.truncations = dict.fromkeys(self.agents, False)
        self.infos = {agent: {} for agent in self.agents}
        self.agent_selection = self.possible_agents[self._game.current_player()]
        if self.render_mode == "human":
            self.render()

    def observe(self, agent: str) -> dict[str, np.ndarray]:
        game = self.game
        player = self._index[agent]
        if not game.done and player == game.current_player():
            mask = game.action_mask()
        else:
            mask = np.zeros(_common.NUM_ACTIONS, dtype=np.int8)
        return {"observation": game.observation(player), "action_mask": mask}

    def step(self, action) -> None:
        agent = self.agent_selection
        if self.terminations[agent] or self.truncations[agent]:
            self._was_dead_step(action)
            return
        if action is None:
            raise ValueError(f"{agent} is to move: None is only for finished agents")
        game = self.game
        self._cumulative_rewards[agent] = 0.0
        defeated = float(game.step(_common.action_id(action)))  # illegal: raises, no change
        self.rewards = dict.fromkeys(self.agents, defeated)
        if game.done:
            self.terminations = dict.fromkeys(self.agents, True)
        else:
            self.agent_selection = self.possible_agents[game.current_player()]
        self._accumulate_rewards()
        if self.render_mode == "human":
            self.render()

    def render(self) -> str | np.ndarray | None:
        return _common.render(self.game, self.render_mode)

    def close(self) -> None:
        pass
