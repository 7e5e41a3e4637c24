"""What the Gymnasium, vector and PettingZoo wrappers share: spaces, argument checks, deals."""

from __future__ import annotations

import numbers

import numpy as np
from gymnasium import logger, spaces

import vardelic_rl
from vardelic_rl._vardelic_rl import NUM_ACTIONS

MAX_PLAYERS = 4


def check_num_players(num_players: object) -> int:
    """The player count as an int; the engine's own message for a count out of range."""
    if isinstance(num_players, bool) or not isinstance(num_players, numbers.Integral):
        raise TypeError(f"num_players must be an int, not {type(num_players).__name__}")
    if not 1 <= num_players <= MAX_PLAYERS:
        raise ValueError("Only 1-4 players are allowed")
    return int(num_players)


def check_render_mode(render_mode: object, modes: list[str]) -> None:
    if render_mode is not None and render_mode not in modes:
        raise ValueError(f"render_mode must be None or one of {modes}, not {render_mode!r}")


def render(game: vardelic_rl.Game, render_mode: str | None, player: int | None = None):
    """The picture of the table from ``player``'s seat (default: the player to move) for
    "rgb_array"; the game's text for "ansi", printed for "human"; a warning without a mode."""
    if render_mode is None:
        logger.warn(
            "render() without a render_mode: create the environment with "
            "render_mode='rgb_array', 'ansi' or 'human'"
        )
        return None
    if render_mode == "rgb_array":
        from . import picture  # Pillow loads only for pictures

        return picture.draw_game(game, player)
    text = str(game)
    if render_mode == "human":
        print(text)
        return None
    return text


def action_id(action: object) -> int:
    """An action id as an int: integers of any kind (a 0-d array too), 0 to NUM_ACTIONS - 1."""
    if type(action) is int or type(action) is np.int64:  # the usual kinds, checked cheaply
        if 0 <= action < NUM_ACTIONS:
            return int(action)
    elif isinstance(action, np.ndarray) and action.shape == ():
        action = action[()]
    if isinstance(action, (bool, np.bool_)) or not isinstance(action, numbers.Integral):
        raise TypeError(f"an action id must be an integer, not {type(action).__name__}")
    if not 0 <= action < NUM_ACTIONS:
        raise ValueError(f"action id {int(action)} is out of range 0..{NUM_ACTIONS - 1}")
    return int(action)


# Observations are plain counts and amounts (see vardelic_rl.OBSERVATION_LAYOUT); none is
# negative and none reaches this bound (the largest, a hand's attack value, stays below 160).
OBSERVATION_HIGH = 255.0


def observation_space() -> spaces.Box:
    """A fresh Box over one player's observation (each environment owns and seeds its own)."""
    return spaces.Box(
        low=0.0, high=OBSERVATION_HIGH, shape=(vardelic_rl.OBSERVATION_SIZE,), dtype=np.float32
    )


def mask_space() -> spaces.Box:
    """The space of an observed mask: int8, as Gymnasium's ``Discrete.sample(mask=...)`` wants."""
    return spaces.Box(low=0, high=1, shape=(NUM_ACTIONS,), dtype=np.int8)


def draw_deal(rng: np.random.Generator) -> int:
    """The next deal's seed from an environment's generator: any unsigned 64-bit number."""
    return int(rng.integers(0, 2**64, dtype=np.uint64))
