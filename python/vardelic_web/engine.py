"""The one place the web table touches the engine: games, seat views, action labels, records.

Everything a table sends about a position is a ``vardelic_rl`` seat view (``Game.view``), which
holds only what that seat may know; records are ``vardelic_rl.GameRecord``.
"""

from __future__ import annotations

import json
from typing import Any

import vardelic_rl as rl


def new_game(num_players: int, seed: int) -> rl.Game:
    return rl.Game(num_players, seed=seed)


def seat_view(game: rl.Game, player: int) -> dict:
    """What `player` may know, as plain JSON-ready data, with the legal list on its turn."""
    return game.view(player)


def legal_ids(game: rl.Game) -> list[int]:
    return sorted(game.legal_actions())


def action_id(game: rl.Game, action: Any) -> int:
    """The id of an action object a player returned: the first legal id whose action equals it."""
    for ident, legal in sorted(game.legal_actions().items()):
        if legal == action:
            return ident
    raise ValueError(f"{action} is not a legal action here")


def label(game: rl.Game, ident: int) -> str:
    """Words for the legal id `ident` of the player to move (before it is played)."""
    return rl.describe(ident, game)


def make_record(game: rl.Game, seats: list[str]) -> rl.GameRecord:
    return game.record(seats=list(seats))


def parse_record(text: str) -> rl.GameRecord:
    """A record from its JSON text; ValueError naming what is wrong."""
    try:
        return rl.GameRecord.from_json(text)
    except json.JSONDecodeError as err:
        raise ValueError(f"not JSON: {err}") from None
