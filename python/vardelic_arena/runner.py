"""Playing the games: one task per (team, game seed), run on any executor.

A task is a pure function of its arguments and returns a small dict, so it
can go to worker processes or a Dask cluster. The engine keeps the
interpreter lock for a whole game, which is why games run in processes.
"""

from __future__ import annotations

import concurrent.futures as cf
from concurrent.futures.process import BrokenProcessPool
import importlib
import json
import os
import queue
import signal
import sys
import time
import traceback
from collections.abc import Callable, Iterable, Iterator
from dataclasses import dataclass

from .teams import ISMCTSSeat, MCTSSeat, PySeat, RandomSeat, Team, load_class

MASK64 = 2**64 - 1
_GOLDEN = 0x9E3779B97F4A7C15


def splitmix64(x: int) -> int:
    x = (x + _GOLDEN) & MASK64
    x = ((x ^ (x >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
    x = ((x ^ (x >> 27)) * 0x94D049BB133111EB) & MASK64
    return x ^ (x >> 31)


def seat_seed(game_seed: int, seat: int) -> int:
    """Seed of a random seat: fixed per (game seed, seat index), so every team
    sees the same random opponents' choices on a given deal, and neighbouring
    game seeds do not give correlated seat seeds."""
    return splitmix64((game_seed ^ splitmix64(seat)) & MASK64)


@dataclass(frozen=True)
class GameTask:
    team: Team
    game: int  # index within the sweep; the record key is (team, seed)
    seed: int
    engine: str = "vardelic"
    direct: bool = False  # seat built-in players without the counting proxy


class CountingSeat:
    """Python seat in front of a player: counts decisions and the time spent
    in them. The driver calls play(state=...); built-in players accept the
    same call through their Python play method."""

    __slots__ = ("_play", "decisions", "seconds", "raised")

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
        return engine.players.MCTSPlayer(seat.playouts, seat.threads, seat.heuristics,
                                         seat.policy, seat.samples)
    if isinstance(seat, ISMCTSSeat):
        return seat.build(seat_seed(game_seed, index))
    if isinstance(seat, PySeat):
        return load_class(seat)()
    raise TypeError(f"unknown seat {seat!r}")


def _describe(exc: BaseException) -> str:
    text = str(exc)
    return f"{type(exc).__name__}: {text}" if text else type(exc).__name__


def play_game(task: GameTask) -> dict:
    """Play one game and return its record; a failing game becomes a record
    with its error instead of an exception, so the sweep goes on."""
    record: dict = {"team": task.team.name, "game": task.game, "seed": task.seed}
    seats: list = []
    start = time.perf_counter()
    try:
        engine = importlib.import_module(task.engine)
        for index, seat in enumerate(task.team.seats):
            player = _make_player(engine, seat, index, task.seed)
            if not (task.direct and not isinstance(seat, PySeat)):
                player = CountingSeat(player)
            seats.append(player)
        game = engine.VardelicGame(seats, task.seed)
        result = game.playout()
        score = int(game.reward())
        record.update(score=score, won=int(result) == 0, error=None)
    except KeyboardInterrupt:  # Ctrl-C in this process; workers ignore SIGINT
        raise
    except BaseException as exc:  # the engine's failure and a player's SystemExit included
        record.update(score=None, won=None, error=_describe(exc),
                      traceback="".join(traceback.format_exception(exc))[-4000:])
        record["error_seat"] = next(
            (i for i, s in enumerate(seats) if isinstance(s, CountingSeat) and s.raised), None)
    record["seconds"] = time.perf_counter() - start
    counted = [s for s in seats if isinstance(s, CountingSeat)]
    if len(counted) == len(task.team.seats) and counted:
        decisions = sum(s.decisions for s in counted)
        record["decisions"] = decisions
        record["decision_seconds"] = sum(s.seconds for s in counted)
        # An action that came back but was refused (illegal) ended the game
        # unapplied; every other returned action was played.
        refused = record["error"] is not None and record["error_seat"] is None and decisions > 0
        record["actions"] = decisions - int(refused)
    else:
        record["decisions"] = record["decision_seconds"] = record["actions"] = None
    return record


def worker_init() -> None:
    # Ctrl-C is the parent's to handle: it stops the pool and keeps what is
    # finished. Workers interrupted on their own would only muddle that.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


# --- the record file ----------------------------------------------------

class RecordFile:
    """Append-only JSON-lines file of finished games, one flushed line each."""

    def __init__(self, path: str, resume: bool) -> None:
        self.path = path
        self.warnings: list[str] = []
        self.records: list[dict] = []
        exists = os.path.exists(path) and os.path.getsize(path) > 0
        if exists and not resume:
            raise FileExistsError(
                f"{path} already holds games; pass --resume to continue that sweep "
                "or choose another --out path")
        if exists:
            self.records = self._load()
        self._file = open(path, "a", encoding="utf-8")

    def _load(self) -> list[dict]:
        with open(self.path, "rb") as f:
            data = f.read()
        if data and not data.endswith(b"\n"):
            # A line cut off by a kill: drop it so the next append starts clean.
            cut = data.rfind(b"\n") + 1
            self.warnings.append(f"{self.path}: dropped an incomplete last line")
            with open(self.path, "r+b") as f:
                f.truncate(cut)
            data = data[:cut]
        records = []
        for number, line in enumerate(data.decode("utf-8").splitlines(), 1):
            if not line.strip():
                continue
            try:
                record = json.loads(line)
                if not isinstance(record, dict) or "team" not in record or "seed" not in record:
                    raise ValueError("not a game record")
            except ValueError as err:
                self.warnings.append(f"{self.path}:{number}: skipped unreadable line ({err})")
                continue
            records.append(record)
        return records

    def append(self, record: dict) -> None:
        self._file.write(json.dumps(record) + "\n")
        self._file.flush()

    def close(self) -> None:
        self._file.close()


# --- running the tasks --------------------------------------------------

@dataclass
class Outcome:
    task: GameTask
    record: dict | None  # None: the task did not run to a record
    failure: str | None = None  # why not (lost worker, broken pool, ...)
    broken_pool: bool = False  # a process of the pool died while the task was in it


def _inline(tasks: list[GameTask]) -> Iterator[Outcome]:
    for task in tasks:
        yield Outcome(task, play_game(task))


def _through_executor(executor: cf.Executor, tasks: list[GameTask], futures: dict,
                      started: Callable[[], None]) -> Iterator[Outcome]:
    done: queue.SimpleQueue = queue.SimpleQueue()
    for task in tasks:
        future = executor.submit(play_game, task)
        futures[future] = task
        future.add_done_callback(done.put)
    started()
    remaining = len(tasks)
    while remaining:
        try:
            future = done.get(timeout=0.25)
        except queue.Empty:
            continue
        remaining -= 1
        task = futures.pop(future)
        if future.cancelled():
            yield Outcome(task, None, "cancelled")
            continue
        exc = future.exception()
        if exc is not None:
            # The task itself never raises (game errors are records), so this
            # is the machinery: a dead worker, a lost Dask worker, pickling.
            yield Outcome(task, None, _describe(exc),
                          broken_pool=isinstance(exc, BrokenProcessPool))
        else:
            yield Outcome(task, future.result())


def _died(task: GameTask, exc: BaseException, seconds: float) -> dict:
    return {"team": task.team.name, "game": task.game, "seed": task.seed, "score": None,
            "won": None, "error": f"the game's process died ({_describe(exc)})",
            "traceback": None, "error_seat": None, "seconds": seconds}


def _isolated(tasks: list[GameTask], workers: int) -> Iterator[Outcome]:
    """Each game in a one-process pool of its own, `workers` at a time: a game
    whose process dies (a crash in native code, os._exit in a player) fails
    alone and is recorded as failed, instead of taking a shared pool down."""
    waiting = list(tasks)
    running: dict = {}
    try:
        while waiting or running:
            while waiting and len(running) < workers:
                task = waiting.pop(0)
                pool = cf.ProcessPoolExecutor(max_workers=1, initializer=worker_init)
                running[pool.submit(play_game, task)] = (task, pool, time.perf_counter())
            done, _ = cf.wait(running, timeout=0.25, return_when=cf.FIRST_COMPLETED)
            for future in done:
                task, pool, start = running.pop(future)
                pool.shutdown(wait=True)
                exc = future.exception()
                if exc is None:
                    yield Outcome(task, future.result())
                elif isinstance(exc, BrokenProcessPool):
                    yield Outcome(task, _died(task, exc, time.perf_counter() - start))
                else:
                    yield Outcome(task, None, _describe(exc))
    finally:
        for _, pool, _ in running.values():
            _stop_pool(pool)


def _stop_pool(executor: cf.ProcessPoolExecutor) -> None:
    # Games in flight are lost anyway; don't wait for them to finish. The
    # pool offers no public way to end its workers before Python 3.14.
    processes = list((getattr(executor, "_processes", None) or {}).values())
    executor.shutdown(wait=False, cancel_futures=True)
    for process in processes:
        if process.is_alive():
            process.terminate()
    for process in processes:
        process.join(timeout=5)


class Interrupted(KeyboardInterrupt):
    """Ctrl-C during a sweep; .evaluation holds the games finished so far."""

    def __init__(self, evaluation) -> None:
        super().__init__("interrupted")
        self.evaluation = evaluation


def run(tasks: list[GameTask], executor: cf.Executor | None, workers: int | None,
        on_outcome: Callable[[Outcome], None],
        started: Callable[[], None] = lambda: None) -> None:
    """Run the tasks, handing each outcome to on_outcome as soon as it is in.

    started() is called once everything is submitted: a forking pool has
    made its workers by then, so threads started later (a progress bar) are
    not forked with them. workers == 0 (and no executor) plays in this
    process, handy under a debugger. KeyboardInterrupt propagates after the
    pool is stopped.
    """
    if not tasks:
        started()
        return
    if executor is None and workers == 0:
        started()
        for outcome in _inline(tasks):
            on_outcome(outcome)
        return
    owned = executor is None
    if owned:
        executor = cf.ProcessPoolExecutor(max_workers=workers or available_cores(),
                                          initializer=worker_init)
    futures: dict = {}
    broken: list[GameTask] = []
    try:
        for outcome in _through_executor(executor, tasks, futures, started):
            if owned and outcome.broken_pool:
                broken.append(outcome.task)  # played again below, each game alone
            else:
                on_outcome(outcome)
        if broken:
            # A dead process breaks the whole pool and fails every game queued
            # in it; only the games in flight could have killed it.
            _stop_pool(executor)
            owned = False
            for outcome in _isolated(broken, workers or available_cores()):
                on_outcome(outcome)
    except BaseException:
        for future in futures:
            future.cancel()
        if owned:
            _stop_pool(executor)
            owned = False
        raise
    finally:
        if owned:
            executor.shutdown(wait=True)


def available_cores() -> int:
    # The cores this process may run on, which a container can limit.
    try:
        return len(os.sched_getaffinity(0)) or 1
    except AttributeError:
        return os.cpu_count() or 1


def sweep_tasks(teams: Iterable[Team], seeds: list[int], engine: str, direct: bool,
                skip: Callable[[str, int], bool]) -> list[GameTask]:
    """Tasks game by game, teams interleaved, so partial sweeps stay paired."""
    teams = list(teams)
    return [GameTask(team, game, seed, engine, direct)
            for game, seed in enumerate(seeds) for team in teams
            if not skip(team.name, seed)]


def engine_problem(engine: str) -> str | None:
    """Why the engine cannot be imported, or None."""
    try:
        importlib.import_module(engine)
    except Exception as err:  # noqa: BLE001
        return (f"cannot import the game engine module {engine!r} ({_describe(err)}); "
                "build and install it with: pip install . (in the repository)")
    return None


def dask_executor(scheduler: str | None = None, local_workers: int | None = None):
    """(executor, closer) on a Dask cluster: a running scheduler, or a local
    cluster of single-threaded worker processes."""
    try:
        from distributed import Client, LocalCluster
    except ImportError:
        raise RuntimeError(
            "Dask is not installed; install it with: pip install 'dask[distributed]' "
            "(or this package's extra: pip install '.[dask]')") from None
    cluster = None
    if scheduler is not None:
        client = Client(scheduler)
    else:
        cluster = LocalCluster(n_workers=local_workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
        # Local workers see this process's import path, so modules added to
        # it at run time (a notebook's player class) import there too.
        client.run(_extend_path, list(sys.path))
    executor = client.get_executor(pure=False)

    def close() -> None:
        client.close()
        if cluster is not None:
            cluster.close()

    return executor, close


def _extend_path(paths: list[str]) -> None:
    for path in paths:
        if path not in sys.path:
            sys.path.append(path)
