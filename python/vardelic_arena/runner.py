"""Running a sweep's tasks, handing on each outcome as soon as it is in.

Three ways: in this process (workers=0, handy under a debugger), in a
process pool of the runner's own, or on any concurrent.futures executor the
caller brings (a Dask cluster's, see cluster.py). Only the runner's own pool
can be rebuilt when a game kills its process, so only there does such a game
fail alone.
"""

from __future__ import annotations

import concurrent.futures as cf
import contextlib
import multiprocessing
import os
import signal
import time
from collections import deque
from collections.abc import Callable, Generator
from concurrent.futures.process import BrokenProcessPool
from dataclasses import dataclass

from .cluster import dask_executor
from .deals import GameTask, seat_seed
from .errors import Interrupted
from .game import describe, died_record, play_game
from .records import GameRecord

# Scripts import seat_seed, dask_executor and Interrupted from here too.
__all__ = ["Interrupted", "Outcome", "available_cores", "dask_executor", "run", "seat_seed"]


@dataclass
class Outcome:
    task: GameTask
    record: GameRecord | None  # None: the task did not run to a record
    failure: str | None = None  # why not (lost worker, broken pool, ...)
    broken_pool: bool = False  # a process of the pool died while the task was in it


Outcomes = Generator[Outcome, None, None]


# Workers start from a fork server, not a fork of this process: a fork copies
# whatever locks other threads hold at that moment (the allocator's included,
# under a sanitizer), and such a worker can hang forever. The server is
# started once, single-threaded, with the game code already imported, so a
# pool of one per game (below) stays cheap. Seats import their classes by
# module path in the worker, so nothing depends on the parent's memory.
_CONTEXT = multiprocessing.get_context("forkserver")
_CONTEXT.set_forkserver_preload(["vardelic_arena.game"])


def _pool(workers: int) -> cf.ProcessPoolExecutor:
    return cf.ProcessPoolExecutor(max_workers=workers, mp_context=_CONTEXT, initializer=worker_init)


def worker_init() -> None:
    # Ctrl-C is the parent's to handle: it stops the pool and keeps what is
    # finished. Workers interrupted on their own would only muddle that.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def available_cores() -> int:
    # The cores this process may run on, which a container can limit
    # (os.process_cpu_count() from Python 3.13 on).
    try:
        return len(os.sched_getaffinity(0)) or 1
    except AttributeError:
        return os.cpu_count() or 1


def _outcome(task: GameTask, future: cf.Future) -> Outcome:
    if future.cancelled():
        return Outcome(task, None, "cancelled")
    exc = future.exception()
    if exc is None:
        return Outcome(task, future.result())
    # The task itself never raises (game errors are records), so this is the
    # machinery: a dead worker, a lost Dask worker, pickling.
    return Outcome(task, None, describe(exc), broken_pool=isinstance(exc, BrokenProcessPool))


def _in_process(tasks: list[GameTask], started: Callable[[], None]) -> Outcomes:
    started()
    for task in tasks:
        yield Outcome(task, play_game(task))


def _on_executor(
    executor: cf.Executor, tasks: list[GameTask], started: Callable[[], None]
) -> Outcomes:
    futures = {executor.submit(play_game, task): task for task in tasks}
    started()
    try:
        for future in cf.as_completed(futures):
            yield _outcome(futures[future], future)
    except BaseException:
        for future in futures:
            future.cancel()
        raise


def _in_own_pool(tasks: list[GameTask], workers: int, started: Callable[[], None]) -> Outcomes:
    pool = _pool(workers)
    broken: list[GameTask] = []
    try:
        with contextlib.closing(_on_executor(pool, tasks, started)) as outcomes:
            for outcome in outcomes:
                if outcome.broken_pool:
                    broken.append(outcome.task)  # played again below, each game alone
                else:
                    yield outcome
    except BaseException:
        _stop_pool(pool)
        raise
    if not broken:
        pool.shutdown(wait=True)
        return
    # A dead process breaks the whole pool and fails every game queued in it;
    # only the games in flight could have killed it.
    _stop_pool(pool)
    yield from _each_alone(broken, workers)


def _each_alone(tasks: list[GameTask], workers: int) -> Outcomes:
    """Each game in a one-process pool of its own, `workers` at a time: a game
    whose process dies (a crash in native code, os._exit in a player) fails
    alone and is recorded as failed, instead of taking a shared pool down."""
    waiting = deque(tasks)
    running: dict = {}
    try:
        while waiting or running:
            while waiting and len(running) < workers:
                task = waiting.popleft()
                pool = _pool(1)
                running[pool.submit(play_game, task)] = (task, pool, time.perf_counter())
            done, _ = cf.wait(running, return_when=cf.FIRST_COMPLETED)
            for future in done:
                task, pool, start = running.pop(future)
                pool.shutdown(wait=True)
                outcome = _outcome(task, future)
                if outcome.broken_pool:  # the game's own process died under it
                    outcome = Outcome(
                        task, died_record(task, outcome.failure, time.perf_counter() - start)
                    )
                yield outcome
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


def run(
    tasks: list[GameTask],
    executor: cf.Executor | None,
    workers: int | None,
    on_outcome: Callable[[Outcome], None],
    started: Callable[[], None] = lambda: None,
) -> None:
    """Run the tasks, handing each outcome to on_outcome as soon as it is in.

    started() is called once everything is submitted. With no executor, workers == 0 plays in this
    process and otherwise a pool of `workers` processes (None: all cores).
    KeyboardInterrupt propagates after the pool is stopped.
    """
    if not tasks:
        started()
        return
    if executor is not None:
        outcomes = _on_executor(executor, tasks, started)
    elif workers == 0:
        outcomes = _in_process(tasks, started)
    else:
        outcomes = _in_own_pool(tasks, workers or available_cores(), started)
    # Closed on the way out, so an exception in on_outcome stops the pool too.
    with contextlib.closing(outcomes):
        for outcome in outcomes:
            on_outcome(outcome)
