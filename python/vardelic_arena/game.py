"""Playing one game of a task and recording it. Runs in the worker; the engine
keeps the interpreter lock for a whole game, which is why games run in
processes."""

from __future__ import annotations

import importlib
import time
import traceback

from .deals import GameTask, seat_seed
from .records import GameRecord
from .teams import ISMCTSSeat, MCTSSeat, PolicySeat, PySeat, RandomSeat, load_class


class CountingSeat:
    """Python seat in front of a player: counts decisions and the time spent
    in them. The driver calls play(state=...); built-in players accept the
    same call through their Python play method."""

    __slots__ = ("_play", "decisions", "raised", "seconds")

    def __init__(self, player) -> None:
        self._play = player.play
        self.decisions = 0
        self.seconds = 0.0
        self.raised = False

    def play(self, state):
        start = time.perf_counter()
        try:
            action = self._play(state=state)
        except BaseException:
            self.raised = True
            raise
        finally:
            self.seconds += time.perf_counter() - start
        self.decisions += 1
        return action


def _make_player(engine, seat, index: int, game_seed: int):
    if isinstance(seat, RandomSeat):
        return engine.players.RandomPlayer(seed=seat_seed(game_seed, index))
    if isinstance(seat, MCTSSeat):
        return engine.players.MCTSPlayer(
            seat.playouts, seat.threads, seat.heuristics, seat.policy, seat.samples
        )
    if isinstance(seat, ISMCTSSeat):
        return seat.build(seat_seed(game_seed, index))
    if isinstance(seat, PolicySeat):
        return seat.build()
    if isinstance(seat, PySeat):
        return load_class(seat)()
    raise TypeError(f"unknown seat {seat!r}")


def describe(exc: BaseException) -> str:
    # Not traceback.format_exception_only: that prefixes the class with its module.
    text = str(exc)
    return f"{type(exc).__name__}: {text}" if text else type(exc).__name__


def play_game(task: GameTask) -> GameRecord:
    """Play one game and return its record; a failing game becomes a record
    with its error instead of an exception, so the sweep goes on."""
    seats: list = []
    score = won = error = trace = error_seat = moves = None
    start = time.perf_counter()
    try:
        engine = importlib.import_module(task.engine)
        for index, seat in enumerate(task.team.seats):
            player = _make_player(engine, seat, index, task.seed)
            if not (task.direct and not isinstance(seat, PySeat)):
                player = CountingSeat(player)
            seats.append(player)
        table = seats
        if task.record_moves:
            from vardelic_rl.records import MoveRecorder

            moves = []
            table = [MoveRecorder(seat, moves) for seat in seats]
        game = engine.VardelicGame(table, task.seed)
        result = game.playout()
        score, won = int(game.reward()), int(result) == 0
    except KeyboardInterrupt:  # Ctrl-C in this process; workers ignore SIGINT
        raise
    # The engine's internal failure and a player's SystemExit included: both end
    # this game only.
    except BaseException as exc:  # noqa: BLE001
        error = describe(exc)
        trace = "".join(traceback.format_exception(exc))[-4000:]
        error_seat = next(
            (i for i, s in enumerate(seats) if isinstance(s, CountingSeat) and s.raised), None
        )
    record = GameRecord(
        team=task.team.name,
        game=task.game,
        seed=task.seed,
        score=score,
        won=won,
        error=error,
        seconds=time.perf_counter() - start,
        traceback=trace,
        error_seat=error_seat,
        moves=moves if error is None else None,
    )
    counted = [s for s in seats if isinstance(s, CountingSeat)]
    if len(counted) == len(task.team.seats) and counted:
        record.decisions = sum(s.decisions for s in counted)
        record.decision_seconds = sum(s.seconds for s in counted)
        # An action that came back but was refused (illegal) ended the game
        # unapplied; every other returned action was played.
        refused = error is not None and error_seat is None and record.decisions > 0
        record.actions = record.decisions - int(refused)
    return record


def died_record(task: GameTask, failure: str | None, seconds: float) -> GameRecord:
    """The record of a game whose process died under it; failure says how."""
    return GameRecord(
        team=task.team.name,
        game=task.game,
        seed=task.seed,
        score=None,
        won=None,
        error=f"the game's process died ({failure})",
        seconds=seconds,
        counts_lost=True,
    )
