"""Live tables: one game, its seats and its log, and the bounded store that keeps them.

A table holds at most one person's seat, named by the word ``human`` among the seats; every
other seat is a computer player written in ``vardelic-arena``'s seat grammar and built the way
the arena builds it. A table without a person is watched: its token shows any seat's view and
moves the computer players one move at a time. Everything a table sends is a seat's view (see
``engine.seat_view``) or the log, which tells only what every seat sees.
"""

from __future__ import annotations

import asyncio
import contextlib
import logging
import secrets
import time
from typing import Any

import anyio
import vardelic
from vardelic_arena.errors import TeamError
from vardelic_arena.game import _make_player
from vardelic_arena.teams import MAX_SEATS, PySeat, check_seat, parse_seat

from . import engine

logger = logging.getLogger("vardelic_web")

HUMAN = "human"
# py: seats import code by name; over HTTP only the package's own trained policies are taken.
TRUSTED_MODULES = ("vardelic_rl.", "vardelic_agents.")
HINT_ITERATIONS = 2000


class TableError(Exception):
    """A request a table refuses; `status` is the HTTP status, `extra` more JSON detail."""

    def __init__(self, status: int, message: str, **extra: Any) -> None:
        super().__init__(message)
        self.status = status
        self.extra = extra


def parse_seats(texts: list[str], allow_py: bool = False) -> tuple[list[str], list[Any]]:
    """(labels, seats) with None for the person's seat; the arena's parser reads the others."""
    labels: list[str] = []
    seats: list[Any] = []
    for text in texts:
        if text.strip().lower() == HUMAN:
            labels.append(HUMAN)
            seats.append(None)
            continue
        try:
            parsed = parse_seat(text)
        except TeamError as err:
            raise TableError(400, f"seat {text!r}: {err}") from None
        for seat in parsed:
            if isinstance(seat, PySeat) and not allow_py:
                trusted = not seat.module.endswith(".py") and seat.module.startswith(
                    TRUSTED_MODULES
                )
                if not trusted:
                    raise TableError(
                        400,
                        f"seat {text!r}: py: seats from outside vardelic_rl and vardelic_agents "
                        "are refused over HTTP (start vardelic-web --allow-py-seats to permit)",
                    )
            try:
                check_seat(seat)
            except TeamError as err:
                raise TableError(400, f"seat {text!r}: {err}") from None
            labels.append(getattr(seat, "short", seat.canonical)())
            seats.append(seat)
    if not 1 <= len(seats) <= MAX_SEATS:
        raise TableError(400, f"a table has 1 to {MAX_SEATS} seats, not {len(seats)}")
    if labels.count(HUMAN) > 1:
        raise TableError(400, "at most one seat is 'human': a token stands for one seat")
    return labels, seats


def outcome(before: dict, after: dict) -> str:
    """What a move did, in words, from two views of one seat (public facts only)."""
    parts = []
    old, new = before["enemy"], after["enemy"]
    if old is not None and (new is None or new["card"] != old["card"]):
        parts.append(f"{old['card']['text']} is defeated")
    elif old is not None and new["health"] < old["health"]:
        parts.append(f"{old['card']['text']} takes {old['health'] - new['health']} damage")
    if old is not None and new is not None and new["attack"] < old["attack"]:
        parts.append(f"its attack falls to {new['attack']}")
    if after["phase"] == "discard" and not after["over"]:
        parts.append(f"player {after['to_move'] + 1} must discard {after['owed']}")
    if after["over"]:
        parts.append(f"the game is {after['result'].lower()}, score {after['score']}")
    return "; ".join(parts)


def rank_actions(state, seed: int, iterations: int = HINT_ITERATIONS) -> list:
    """ISMCTSPlayer's (action, visits, mean score) for the player to move. The search deals
    everything that player cannot see again for every iteration, so the answer depends only on
    that seat's information (tests check it against re-dealt positions)."""
    from vardelic_agents import ISMCTSPlayer

    searcher = ISMCTSPlayer(iterations=iterations, seed=seed)
    searcher.play(state)
    return searcher.ranked_actions()


class Table:
    def __init__(self, labels: list[str], seats: list[Any], seed: int | None) -> None:
        self.id = secrets.token_urlsafe(16)
        self.token = secrets.token_urlsafe(32)
        self.labels = labels
        self.seed = secrets.randbits(32) if seed is None else seed
        self.num_players = len(seats)
        self.human = labels.index(HUMAN) if HUMAN in labels else None
        self.players = [
            None if seat is None else _make_player(vardelic, seat, index, self.seed)
            for index, seat in enumerate(seats)
        ]
        self.game = engine.new_game(self.num_players, self.seed)
        self.moves: list[int] = []  # as the game's record keeps them; counted here for the page
        self.log: list[dict] = []
        self.error: str | None = None
        self.lock = asyncio.Lock()
        self.subscribers: dict[asyncio.Queue, int] = {}
        self.mover: asyncio.Task | None = None
        self.touched = time.monotonic()
        self.finished_at: float | None = None

    # -- what a seat may see ------------------------------------------------------------------

    def message(self, seat: int) -> dict:
        return {
            "table": self.id,
            "seat": seat,
            "seats": self.labels,
            "human": self.human,
            "moves": len(self.moves),
            "busy": self.mover is not None and not self.mover.done(),
            "error": self.error,
            "view": engine.seat_view(self.game, seat),
            "log": self.log,
        }

    def seat_for(self, requested: int | None) -> int:
        """The seat a token may look from: the person's own, or any seat of a watched table."""
        if self.human is not None:
            if requested not in (None, self.human):
                raise TableError(403, "this token sees only its own seat")
            return self.human
        requested = 0 if requested is None else requested
        if not 0 <= requested < self.num_players:
            raise TableError(400, f"seat {requested} is not at this table")
        return requested

    def _fail(self, seat: int, what: str, err: BaseException) -> None:
        """Stops the table. The page learns only what failed: an engine or player message
        may name cards of that seat, so the details go to the server's log."""
        self.error = f"player {seat + 1} ({self.labels[seat]}) {what}; the game stops here"
        logger.error("table %s: player %d (%s): %r", self.id, seat + 1, self.labels[seat], err)

    def _computer_to_move(self) -> bool:
        return not self.game.done and self.game.current_player() != self.human

    # -- moves --------------------------------------------------------------------------------

    def _apply(self, ident: int) -> None:
        mover = self.game.current_player()
        before = engine.seat_view(self.game, mover)
        words = engine.label(self.game, ident)
        self.game.step(ident)
        self.moves.append(ident)
        after = engine.seat_view(self.game, mover)
        self.log.append(
            {
                "move": len(self.moves),
                "player": mover,
                "seat": self.labels[mover],
                "action": words,
                "outcome": outcome(before, after),
            }
        )
        if self.game.done:
            self.finished_at = time.monotonic()
        self._push()

    def _push(self) -> None:
        for queue, seat in list(self.subscribers.items()):
            try:
                queue.put_nowait(self.message(seat))
            except asyncio.QueueFull:  # a reader that stopped reading loses its stream
                self.subscribers.pop(queue, None)
                queue.get_nowait()
                queue.put_nowait(None)

    async def human_action(self, ident: Any) -> None:
        if type(ident) is not int:
            raise TableError(422, "action must be an integer id from the view's legal list")
        async with self.lock:
            if self.game.done:
                raise TableError(409, "the game is over")
            if self.game.current_player() != self.human:
                raise TableError(
                    409, f"it is player {self.game.current_player() + 1}'s turn, not yours"
                )
            legal = engine.legal_ids(self.game)
            if ident not in legal:
                raise TableError(422, f"action id {ident} is not legal here", legal=legal)
            self._apply(ident)
        self.start_computers()

    async def computer_move(self) -> bool:
        """Let the computer seat to move play once; False when no computer is to move."""
        async with self.lock:
            if not self._computer_to_move() or self.error:
                return False
            seat = self.game.current_player()
            state = self.game.state()
        player = self.players[seat]
        try:
            # The searches release the interpreter lock: the loop and other tables go on.
            action = await anyio.to_thread.run_sync(lambda: player.play(state=state))
        except BaseException as err:  # noqa: BLE001 - the engine's failure derives BaseException
            if isinstance(err, asyncio.CancelledError | KeyboardInterrupt):
                raise
            self._fail(seat, f"raised {type(err).__name__}", err)
            self._push()
            return False
        async with self.lock:
            try:
                ident = engine.action_id(self.game, action)
            except Exception as err:  # noqa: BLE001 - whatever a py: seat returned
                self._fail(seat, "returned an action that is not legal", err)
                self._push()
                return False
            self._apply(ident)
        return True

    def start_computers(self) -> None:
        """At a table with a person, computer seats move on their own until the person is to
        move."""
        if self.human is None or (self.mover is not None and not self.mover.done()):
            return

        async def run() -> None:
            while await self.computer_move():
                pass

        self.mover = asyncio.get_running_loop().create_task(run())

    async def step(self) -> None:
        """One move of a watched table."""
        if self.human is not None:
            raise TableError(409, "this table has a person's seat: its computers move on their own")
        if self.mover is not None and not self.mover.done():
            raise TableError(409, "a move is already being searched")
        if self.game.done:
            raise TableError(409, "the game is over")
        self.mover = asyncio.get_running_loop().create_task(self.computer_move())
        await self.mover

    async def hint(self) -> list[dict]:
        """What ISMCTSPlayer would play for the person's seat, ranked, from this state."""
        async with self.lock:
            if self.game.done or self.game.current_player() != self.human:
                raise TableError(409, "a hint is given on your own turn")
            state = self.game.state()
            moves = len(self.moves)
        ranked = await anyio.to_thread.run_sync(lambda: rank_actions(state, seed=moves))
        async with self.lock:
            if len(self.moves) != moves:
                raise TableError(409, "the game moved on during the search")
            view = engine.seat_view(self.game, self.human)
            labels = {item["id"]: item["label"] for item in view["legal"]}
            return [
                {
                    "id": (ident := engine.action_id(self.game, action)),
                    "label": labels[ident],
                    "visits": int(visits),
                    "mean_score": round(float(mean), 3),
                }
                for action, visits, mean in ranked
            ]

    def record(self) -> str:
        if not self.game.done:
            raise TableError(409, "the record holds the seed: it is given once the game is over")
        return engine.make_record(self.game, self.labels).to_json()

    def close(self) -> None:
        if self.mover is not None:
            self.mover.cancel()
        for queue in list(self.subscribers):
            with contextlib.suppress(asyncio.QueueFull):
                queue.put_nowait(None)
        self.subscribers.clear()


class TableStore:
    """At most `limit` live tables; a finished table lasts `finished_ttl` seconds after its
    last move, any table `idle_ttl` seconds after its last request."""

    def __init__(
        self, limit: int = 256, finished_ttl: float = 600.0, idle_ttl: float = 1800.0
    ) -> None:
        self.limit = limit
        self.finished_ttl = finished_ttl
        self.idle_ttl = idle_ttl
        self.tables: dict[str, Table] = {}

    def sweep(self) -> None:
        now = time.monotonic()
        for table_id, table in list(self.tables.items()):
            finished = table.finished_at is not None and now - table.finished_at > self.finished_ttl
            if finished or now - table.touched > self.idle_ttl:
                table.close()
                del self.tables[table_id]

    def add(self, table: Table) -> None:
        self.sweep()
        if len(self.tables) >= self.limit:
            raise TableError(503, f"the server holds its limit of {self.limit} live tables")
        self.tables[table.id] = table

    def get(self, table_id: str, token: str | None) -> Table:
        """The table, for its own token only; a wrong token reads as an unknown table."""
        if not token:
            raise TableError(401, "a table's token is needed (Authorization: Bearer TOKEN)")
        self.sweep()
        table = self.tables.get(table_id)
        if table is None or not secrets.compare_digest(table.token, token):
            raise TableError(404, "no such table")
        table.touched = time.monotonic()
        return table

    def close(self) -> None:
        for table in self.tables.values():
            table.close()
        self.tables.clear()
