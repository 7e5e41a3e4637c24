"""Game records: a game kept as its seed and its action ids, which replay it exactly.

``GameRecord`` is the record, ``Game.record()`` the record of a ``Game`` played so far and
``play_recorded`` plays a ``vardelic.VardelicGame`` with any players and records it. A record
is saved as one versioned JSON object (``to_json`` / ``GameRecord.from_json``).
"""

from __future__ import annotations

import json
import secrets
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

from ._vardelic_rl import NUM_ACTIONS, Game, _action_id

__all__ = ["RECORD_VERSION", "GameRecord", "MoveRecorder", "play_recorded"]

#: The version written into every saved record; records of other versions are refused.
RECORD_VERSION = 1
_RESULTS = ("Won", "Lost")


def _is_int(value: object) -> bool:
    return isinstance(value, int) and not isinstance(value, bool)


def _field_error(name: str, expected: str, value: object) -> ValueError:
    shown = repr(value)
    if len(shown) > 60:
        shown = shown[:57] + "..."
    return ValueError(f"GameRecord field {name!r} must be {expected}, got {shown}")


@dataclass(frozen=True)
class GameRecord:
    """One game as its deal and its moves: ``num_players``, ``seed``, ``seats`` (a label per
    seat), ``moves`` (the action ids in order), ``result`` ("Won", "Lost", or None for a game
    still going on) and ``score`` (enemies defeated, 12 after a win).

    The fields are checked on construction (ValueError naming the field); ``seats`` and
    ``moves`` are kept as tuples, so a record is immutable and hashable.
    """

    num_players: int
    seed: int
    seats: tuple[str, ...]
    moves: tuple[int, ...]
    result: str | None
    score: int

    def __post_init__(self) -> None:
        if not _is_int(self.num_players) or not 1 <= self.num_players <= 4:
            raise _field_error("num_players", "an int from 1 to 4", self.num_players)
        if not _is_int(self.seed) or not 0 <= self.seed < 2**64:
            raise _field_error("seed", "an int in [0, 2**64)", self.seed)
        seats = self.seats
        if isinstance(seats, str) or not isinstance(seats, Sequence):
            raise _field_error("seats", "a list of strings", seats)
        if len(seats) != self.num_players or not all(isinstance(s, str) for s in seats):
            raise _field_error("seats", f"{self.num_players} strings, one per seat", seats)
        moves = self.moves
        if isinstance(moves, str | bytes) or not isinstance(moves, Sequence):
            raise _field_error("moves", "a list of action ids", moves)
        for index, move in enumerate(moves):
            if not _is_int(move) or not 0 <= move < NUM_ACTIONS:
                raise _field_error(
                    f"moves[{index}]", f"an action id from 0 to {NUM_ACTIONS - 1}", move
                )
        if self.result is not None and self.result not in _RESULTS:
            raise _field_error("result", '"Won", "Lost" or None', self.result)
        if not _is_int(self.score) or not 0 <= self.score <= 12:
            raise _field_error("score", "an int from 0 to 12", self.score)
        object.__setattr__(self, "seats", tuple(seats))
        object.__setattr__(self, "moves", tuple(int(m) for m in moves))

    def to_dict(self) -> dict[str, Any]:
        """The record as the JSON object that ``to_json`` writes (plain built-in types)."""
        return {
            "version": RECORD_VERSION,
            "num_players": self.num_players,
            "seed": self.seed,
            "seats": list(self.seats),
            "moves": list(self.moves),
            "result": self.result,
            "score": self.score,
        }

    def to_json(self) -> str:
        """The record as one line of JSON."""
        return json.dumps(self.to_dict(), ensure_ascii=False)

    @classmethod
    def from_dict(cls, data: object) -> GameRecord:
        """The record of a parsed JSON object; ValueError naming the field that is missing,
        of the wrong type, or of a version this library does not read."""
        if not isinstance(data, dict):
            raise ValueError(f"a GameRecord is a JSON object, not {type(data).__name__}")
        if "version" not in data:
            raise ValueError("GameRecord field 'version' is missing")
        version = data["version"]
        if not _is_int(version) or version != RECORD_VERSION:
            raise ValueError(
                f"GameRecord field 'version' is {version!r}; this library reads version "
                f"{RECORD_VERSION} only"
            )
        fields = ("num_players", "seed", "seats", "moves", "result", "score")
        for name in fields:
            if name not in data:
                raise ValueError(f"GameRecord field {name!r} is missing")
        for name in ("seats", "moves"):
            if not isinstance(data[name], list):
                raise _field_error(name, "a list", data[name])
        return cls(**{name: data[name] for name in fields})

    @classmethod
    def from_json(cls, text: str | bytes) -> GameRecord:
        """The record saved by ``to_json``; ValueError for text that is not one."""
        try:
            data = json.loads(text)
        except json.JSONDecodeError as err:
            raise ValueError(f"a GameRecord must be JSON: {err}") from None
        return cls.from_dict(data)

    def replay(self, upto: int | None = None) -> Game:
        """A ``Game`` dealt from the seed with the first ``upto`` moves played (all by
        default). ValueError names a move that is not legal where it stands; a whole replay
        that ends with another result or score than the record's raises ValueError too."""
        if upto is not None and (not _is_int(upto) or not 0 <= upto <= len(self.moves)):
            raise ValueError(f"upto must be an int from 0 to {len(self.moves)}, got {upto!r}")
        game = Game(self.num_players, self.seed)
        game.step_many(self.moves if upto is None else self.moves[:upto])
        if upto is None:
            result = None if game.result is None else game.result.name
            if (result, game.reward) != (self.result, self.score):
                raise ValueError(
                    f"the replay ends with result {result} and score {game.reward}, but the "
                    f"record says {self.result} and {self.score}"
                )
        return game


def _record_of_game(game: Game, seats: Sequence[str] | None) -> GameRecord:
    # Game.record(seats=None), defined natively, builds the record here.
    n = game.num_players
    labels = [f"player {i}" for i in range(n)] if seats is None else seats
    result = game.result
    return GameRecord(
        num_players=n,
        seed=game.seed,
        seats=labels,
        moves=game.moves,
        result=None if result is None else result.name,
        score=game.reward,
    )


class MoveRecorder:
    """A seat in front of a player that appends the id of every action it returns to
    ``moves``. An action that is no legal move is handed on unrecorded: the game refuses it."""

    __slots__ = ("_play", "moves")

    def __init__(self, player, moves: list[int]) -> None:
        self._play = player.play
        self.moves = moves

    def play(self, state):
        action = self._play(state=state)
        action_id = _action_id(state, action)
        if action_id is not None:
            self.moves.append(action_id)
        return action


def play_recorded(players: Sequence[object], seed: int | None = None) -> GameRecord:
    """Plays a ``vardelic.VardelicGame`` with these players (built-in players,
    ``vardelic_agents.ISMCTSPlayer`` or Python objects with ``play(*, state)``) and returns its
    record; without a seed one is drawn, so that the record always replays. The seats are
    labelled with the players' class names."""
    import vardelic

    players = list(players)
    if seed is None:
        seed = secrets.randbits(64)
    moves: list[int] = []
    game = vardelic.VardelicGame([MoveRecorder(p, moves) for p in players], seed)
    result = game.playout()
    return GameRecord(
        num_players=len(players),
        seed=seed,
        seats=[type(p).__name__ for p in players],
        moves=moves,
        result="Won" if int(result) == 0 else "Lost",
        score=int(game.reward()),
    )
