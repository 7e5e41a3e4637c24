"""The one place the web table touches the engine: games, seat views, action labels, records.

Seat views and records come from ``vardelic_rl`` (``Game.view``, ``GameRecord``) when that
``vardelic_rl`` has them. An older ``vardelic_rl`` without them gets the fallback below, which
builds the same view from the seat's observation (so it holds exactly what the observation
holds: that seat's information) and a record of the same JSON shape. The rest of the package
calls only the functions of this module.
"""

from __future__ import annotations

import json
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import vardelic_rl as rl

HAS_VIEWS = hasattr(rl.Game, "view") and hasattr(rl, "GameRecord")

SUITS = ("Spades", "Hearts", "Diamonds", "Clubs")
SUIT_SYMBOLS = {"Spades": "♠", "Hearts": "♥", "Diamonds": "♦", "Clubs": "♣"}
VALUES = (
    "Jester",
    "Ace",
    "Two",
    "Three",
    "Four",
    "Five",
    "Six",
    "Seven",
    "Eight",
    "Nine",
    "Ten",
    "Jack",
    "Queen",
    "King",
)
VALUE_TEXT = ("Jester", "A", "2", "3", "4", "5", "6", "7", "8", "9", "10", "J", "Q", "K")
RANKS = ("Jack", "Queen", "King")
ENEMY_HEALTH = {"Jack": 20, "Queen": 30, "King": 40}
_FIELDS = {name: (offset, length) for name, offset, length, _ in rl.OBSERVATION_LAYOUT}


def new_game(num_players: int, seed: int) -> rl.Game:
    return rl.Game(num_players, seed=seed)


def card(suit: int | None, value: int) -> dict:
    """A card as plain data; suit and value are indices into SUITS and VALUES."""
    if value == 0:
        return {"suit": None, "value": "Jester", "text": "Jester"}
    name = SUITS[suit]
    return {"suit": name, "value": VALUES[value], "text": SUIT_SYMBOLS[name] + VALUE_TEXT[value]}


def _kind_card(kind: int) -> dict:
    # Card kinds run suit by suit, Ace (1) to King (13); 52 is the jester.
    return card(None, 0) if kind == 52 else card(kind // 13, kind % 13 + 1)


def _field(obs: np.ndarray, name: str) -> np.ndarray:
    offset, length = _FIELDS[name]
    return obs[offset : offset + length]


def _cards_of_counts(counts: np.ndarray) -> list[dict]:
    return [_kind_card(kind) for kind in range(53) for _ in range(int(counts[kind]))]


def _hand(obs: np.ndarray) -> list[dict]:
    slots = _field(obs, "hand_slots").reshape(8, 18)
    hand = []
    for slot in slots:
        if not slot.any():
            break
        suit = int(np.argmax(slot[:4])) if slot[:4].any() else None
        hand.append(card(suit, int(np.argmax(slot[4:]))))
    return hand


def _kind(action_id: int, action: Any) -> str:
    if action_id == rl.YIELD:
        return "Yield"
    if action_id == rl.REFILL_HAND:
        return "RefillHand"
    if action_id >= rl.CHANGE_PLAYER:
        return "ChangePlayer"
    return type(action).__name__.removeprefix("Action")


def _label(kind: str, cards: list[dict], target: int | None) -> str:
    if kind == "Yield":
        return "Yield"
    if kind == "RefillHand":
        return "Refill the hand"
    if kind == "ChangePlayer":
        return f"Player {target + 1} moves next"
    verb = "Discard" if kind == "Discard" else "Play"
    return verb + " " + " + ".join(c["text"] for c in cards)


def _fallback_legal(game: rl.Game, hand: list[dict], to_move: int) -> list[dict]:
    legal = []
    for action_id, action in sorted(game.legal_actions().items()):
        kind = _kind(action_id, action)
        cards = [hand[i] for i in range(8) if action_id < 256 and action_id >> i & 1]
        target = (to_move + action_id - rl.CHANGE_PLAYER) % game.num_players
        item = {"id": action_id, "kind": kind, "cards": cards}
        item["label"] = _label(kind, cards, target if kind == "ChangePlayer" else None)
        if kind == "ChangePlayer":
            item["player"] = target
        legal.append(item)
    return legal


def _fallback_view(game: rl.Game, player: int) -> dict:
    """The view of issue-21 shape built from `player`'s observation alone."""
    n = game.num_players
    obs = game.observation(player)
    ahead = int(np.argmax(_field(obs, "to_move")))
    to_move = (player + ahead) % n
    others = _field(obs, "other_hand_sizes")
    sizes = [0] * n
    sizes[player] = int(_field(obs, "hand_size")[0])
    for k in range(1, n):
        sizes[(player + k) % n] = int(others[k - 1])
    hand = _hand(obs)
    phase = ("play", "discard", "jester")[int(np.argmax(_field(obs, "phase")))]
    enemy = None
    if _field(obs, "enemy_present")[0]:
        index = int(np.argmax(_field(obs, "enemy_card")))
        rank, suit = RANKS[index // 4], SUITS[index % 4]
        immune = _field(obs, "enemy_immune_suit")
        enemy = {
            "card": {"suit": suit, "value": rank, "text": SUIT_SYMBOLS[suit] + rank[0]},
            "health": int(_field(obs, "enemy_health")[0]),
            "max_health": ENEMY_HEALTH[rank],
            "attack": int(_field(obs, "enemy_attack")[0]),
            "blocked_suit": SUITS[int(np.argmax(immune))] if immune.any() else None,
            "jester_applied": bool(_field(obs, "enemy_jester_applied")[0]),
        }
    piles = _field(obs, "pile_sizes")
    view = {
        "num_players": n,
        "player": player,
        "to_move": to_move,
        "phase": phase,
        "owed": int(_field(obs, "discard_owed")[0]) if phase == "discard" else 0,
        "level": int(_field(obs, "enemies_defeated")[0]),
        "yields_in_a_row": int(_field(obs, "times_yielded")[0]),
        "refills_left": int(_field(obs, "refills_left")[0]),
        "over": bool(game.done),
        "hand": hand,
        "hand_sizes": sizes,
        "enemy": enemy,
        "castle_left": dict(zip(RANKS, map(int, _field(obs, "enemies_left_by_rank")), strict=True)),
        "tavern_size": int(piles[0]),
        "discard": _cards_of_counts(_field(obs, "discard_pile")),
        "played": _cards_of_counts(_field(obs, "attack_cards")),
        "legal": [],
    }
    if game.done:
        view["result"] = "Won" if game.result == rl.Result.Won else "Lost"
        view["score"] = int(game.reward)
    elif to_move == player:
        view["legal"] = _fallback_legal(game, hand, to_move)
    return view


def seat_view(game: rl.Game, player: int) -> dict:
    """What `player` may know, as plain JSON-ready data, with the legal list on its turn."""
    if HAS_VIEWS:
        return game.view(player)
    return _fallback_view(game, player)


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
    player = game.current_player()
    for item in seat_view(game, player)["legal"]:
        if item["id"] == ident:
            return item["label"]
    raise ValueError(f"action id {ident} is not legal")


@dataclass
class FallbackRecord:
    """A game as its seed and moves, for a vardelic_rl without GameRecord; same JSON shape."""

    num_players: int
    seed: int
    seats: list[str]
    moves: list[int] = field(default_factory=list)
    result: str | None = None
    score: int | None = None

    def to_json(self) -> str:
        return json.dumps({"version": 1, **self.__dict__})

    @classmethod
    def from_json(cls, text: str) -> FallbackRecord:
        data = json.loads(text)
        if not isinstance(data, dict):
            raise ValueError("a record is a JSON object")
        if data.get("version") != 1:
            raise ValueError(f"version: unknown record version {data.get('version')!r}")
        checks = {
            "num_players": lambda v: isinstance(v, int) and 1 <= v <= 4,
            "seed": lambda v: isinstance(v, int) and 0 <= v < 2**64,
            "seats": lambda v: isinstance(v, list) and all(isinstance(s, str) for s in v),
            "moves": lambda v: isinstance(v, list) and all(type(m) is int for m in v),
            "result": lambda v: v in (None, "Won", "Lost"),
            "score": lambda v: v is None or type(v) is int,
        }
        for name, ok in checks.items():
            if name not in data or not ok(data[name]):
                raise ValueError(f"{name}: missing or of the wrong type")
        return cls(**{name: data[name] for name in checks})

    def replay(self, upto: int | None = None) -> rl.Game:
        game = rl.Game(self.num_players, seed=self.seed)
        for index, move in enumerate(self.moves[:upto]):
            legal = legal_ids(game)
            if game.done or move not in legal:
                raise ValueError(f"move {index}: id {move} is not legal (legal ids: {legal})")
            game.step(move)
        if upto is None and self.result is not None:
            result = "Won" if game.result == rl.Result.Won else "Lost"
            if not game.done or result != self.result or int(game.reward) != self.score:
                raise ValueError("the moves do not end with the recorded result and score")
        return game


Record = rl.GameRecord if HAS_VIEWS else FallbackRecord


def make_record(num_players: int, seed: int, seats: list[str], moves: list[int], game) -> Any:
    if HAS_VIEWS:
        return game.record(seats=seats)
    result = None if not game.done else ("Won" if game.result == rl.Result.Won else "Lost")
    return FallbackRecord(num_players, seed, list(seats), list(moves), result, int(game.reward))


def parse_record(text: str) -> Any:
    """A record from its JSON text; ValueError naming what is wrong."""
    try:
        return Record.from_json(text)
    except json.JSONDecodeError as err:
        raise ValueError(f"not JSON: {err}") from None
