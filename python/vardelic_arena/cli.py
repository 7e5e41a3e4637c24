"""vardelic-arena: compare teams of players on paired deals."""

from __future__ import annotations

import argparse
import contextlib
import os
import signal
import sys
import threading

from rich.console import Console

from .errors import Interrupted, SetupError, UsageError
from .teams import seat_help

EPILOG = """
Every team plays the same deals: game i uses seed BASE+i for all teams, and
random seats draw seeds from the game seed, so random-only runs repeat
exactly. The first team is the reference of the paired differences.

Examples:
  vardelic-arena --team random,random --team 'mcts(playouts=200),random' -n 200
  vardelic-arena --team 'mcts(p=1000,v=2)*2' --team 'mcts(p=1000)*2' -n 500 \\
      --out sweep.jsonl --json sweep.json --plot sweep.png
  vardelic-arena --team 'mcts(p=1000)*2' ... --out sweep.jsonl --resume   # after Ctrl-C
  vardelic-arena --team py:mybot:Bot,random -n 50 --workers 0             # debug in-process
  vardelic-arena --team mcts --dask-local 8 -n 1000
  vardelic-arena --team mcts --scheduler tcp://10.0.0.5:8786 -n 10000

Exit status: 0 all games played, 1 some games failed (their errors are
in the table and the --out file), 2 bad arguments or no engine, 3 some
games could not be run (lost workers; rerun with --resume), 130 interrupted
(Ctrl-C), 143 stopped by SIGTERM; an interrupted sweep keeps and reports
the games it finished.
"""


def _say(message: str) -> None:
    print(message, file=sys.stderr, flush=True)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="vardelic-arena",
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Play teams of players on the same deals and compare their scores\n"
        "(enemies defeated, a win counting 12).",
        epilog=seat_help() + EPILOG,
    )
    parser.add_argument(
        "--team",
        "-t",
        action="append",
        required=True,
        metavar="SEATS",
        help="a team to evaluate: comma-separated seats (see below); "
        "repeat for every team to compare",
    )
    parser.add_argument(
        "--games", "-n", type=int, default=100, metavar="N", help="deals per team (default 100)"
    )
    parser.add_argument(
        "--seed",
        type=int,
        default=0,
        metavar="BASE",
        help="game i is dealt from seed BASE+i (default 0)",
    )
    parser.add_argument(
        "--workers",
        "-w",
        type=int,
        default=None,
        metavar="N",
        help="worker processes (default: the number of cores; 0 plays in this process)",
    )
    dask = parser.add_mutually_exclusive_group()
    dask.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="run the games on the Dask distributed scheduler at ADDRESS (needs the dask extra)",
    )
    dask.add_argument(
        "--dask-local",
        type=int,
        metavar="N",
        help="run the games on a local Dask cluster of N single-threaded "
        "worker processes (needs the dask extra)",
    )
    parser.add_argument(
        "--out",
        "-o",
        metavar="PATH.jsonl",
        help="append every finished game to this file at once, one JSON line",
    )
    parser.add_argument(
        "--records",
        metavar="PATH.jsonl",
        help="also write every finished game as a replayable record (vardelic_rl.GameRecord, "
        "one JSON line: seed and action ids); --resume continues it as --out",
    )
    parser.add_argument(
        "--resume",
        action="store_true",
        help="continue the sweep in --out: skip the games it holds, play the rest",
    )
    parser.add_argument(
        "--retry-errors",
        action="store_true",
        help="with --resume, play failed games of the file again",
    )
    parser.add_argument("--json", metavar="PATH", help="write the summary figures as JSON")
    parser.add_argument(
        "--plot", metavar="PATH.png", help="write a figure of score distributions and mean scores"
    )
    parser.add_argument(
        "--direct",
        action="store_true",
        help="seat built-in players directly instead of through the counting "
        "proxy: no decision counts or per-decision times",
    )
    parser.add_argument("--no-progress", action="store_true", help="no live progress bars")
    parser.add_argument(
        "--engine",
        default="vardelic",
        metavar="MODULE",
        help="module that provides the game (default vardelic); a stand-in "
        "with the same API can be named for testing",
    )
    return parser


@contextlib.contextmanager
def _terminate_as_interrupt(received: list[int]):
    """While the sweep runs, SIGTERM (a job scheduler's stop, `kill`) ends it as Ctrl-C does:
    the pool is stopped and what is finished is kept and reported. Left to its default, the
    signal would end this process at once, with its workers still playing."""
    if threading.current_thread() is not threading.main_thread():
        yield  # signal handlers belong to the main thread
        return

    def interrupt(signum, frame):
        received.append(signum)
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGTERM, interrupt)
    try:
        yield
    finally:
        signal.signal(signal.SIGTERM, previous)


def main(argv: list[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    out = Console()
    if not out.is_terminal:
        # A file or pipe gets the whole table on one line per team.
        out = Console(width=max(out.width, 160))
    err = Console(stderr=True)

    # Imported here so that --help works without the heavier modules.
    from . import api, report
    from .cluster import dask_executor

    if args.records:
        folder = os.path.dirname(os.path.abspath(args.records))
        if not os.path.isdir(folder):
            parser.error(f"no such folder for {args.records}")
    if args.resume and not args.out:
        parser.error("--resume needs --out PATH.jsonl, the file of the sweep to continue")
    if args.retry_errors and not args.resume:
        parser.error("--retry-errors works with --resume")
    if args.workers is not None and args.workers < 0:
        parser.error("--workers must be 0 or more")
    if args.dask_local is not None and args.dask_local < 1:
        parser.error("--dask-local needs at least 1 worker")
    try:
        sweep = api.plan_sweep(
            args.team,
            args.games,
            args.seed,
            out=args.out,
            resume=args.resume,
            retry_errors=args.retry_errors,
            direct=args.direct,
            engine=args.engine,
            replays=args.records,
        )
    except UsageError as exc:
        parser.error(str(exc))
    except SetupError as exc:
        _say(f"vardelic-arena: {exc}")
        return 2
    for path in (args.json, args.plot):
        folder = os.path.dirname(os.path.abspath(path)) if path else None
        if folder and not os.path.isdir(folder):
            parser.error(f"no such folder for {path}")
        if path and os.path.isdir(path):
            parser.error(f"{path} is a folder; name a file")
    # Found before the sweep rather than after it: the figure is written as PNG.
    if args.plot and not args.plot.lower().endswith(".png"):
        parser.error(f"--plot writes a PNG image: name a file ending in .png, not {args.plot}")

    executor, close = None, lambda: None
    if args.scheduler or args.dask_local:
        try:
            executor, close = dask_executor(args.scheduler, args.dask_local)
        except SetupError as exc:
            _say(f"vardelic-arena: {exc}")
            return 2
    interrupted = False
    terminated: list[int] = []
    try:
        progress = not args.no_progress and err.is_terminal
        with _terminate_as_interrupt(terminated):
            evaluation = api.run_sweep(sweep, executor, progress, workers=args.workers, console=err)
    except Interrupted as exc:
        evaluation, interrupted = exc.evaluation, True
    finally:
        close()

    for warning in evaluation.warnings:
        _say(f"warning: {warning}")
    report.print_summary(evaluation.summary, out)
    if args.json:
        report.write_json(evaluation.summary, args.json)
    if args.plot:
        from .plot import write_plot

        write_plot(evaluation.summary, args.plot)
    if interrupted:
        missing = sum(t.missing for t in evaluation.summary.teams)
        hint = f" rerun with --resume --out {args.out} to play them" if args.out else ""
        _say(f"interrupted: {missing} games not played;{hint}")
        return 128 + terminated[0] if terminated else 130
    if evaluation.failures:
        first = evaluation.failures[0]["failure"]
        _say(
            f"{len(evaluation.failures)} games could not be run ({first});"
            + (f" rerun with --resume --out {args.out} to play them" if args.out else "")
        )
        return 3
    if any(t.errors for t in evaluation.summary.teams):
        return 1
    return 0
