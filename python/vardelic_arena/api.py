"""evaluate(): a whole sweep from Python, as the command line runs it.

plan_sweep() checks everything a sweep needs before any game is played and
raises an ArenaError (errors.py) saying what is wrong; run_sweep() plays a
checked sweep. evaluate() is the two in one call.
"""

from __future__ import annotations

import concurrent.futures as cf
import importlib
import os
from collections.abc import Sequence
from dataclasses import dataclass, field

from rich.console import Console
from rich.progress import (
    BarColumn,
    MofNCompleteColumn,
    Progress,
    ProgressColumn,
    TextColumn,
    TimeElapsedColumn,
    TimeRemainingColumn,
)
from rich.text import Text

from . import runner
from .deals import MASK64, sweep_tasks
from .errors import Interrupted, RecordFileError, SetupError, TeamError, UsageError
from .game import describe
from .records import GameRecord, RecordFile
from .replays import ReplayFile
from .runner import Outcome
from .summary import Summary, games_by_team, summarise
from .teams import Team, check_team, parse_team


@dataclass
class Evaluation:
    teams: list[Team]
    seeds: list[int]
    records: list[GameRecord]  # one per finished or failed game, by team then seed
    summary: Summary
    failures: list[dict] = field(default_factory=list)  # games that did not run
    warnings: list[str] = field(default_factory=list)

    @property
    def complete(self) -> bool:
        return not self.failures and all(t.missing == 0 for t in self.summary.teams)


@dataclass(frozen=True)
class Sweep:
    """A checked sweep: teams that can be seated, seeds that fit, an engine
    that imports and a record file that may be written."""

    teams: tuple[Team, ...]
    seeds: tuple[int, ...]
    engine: str = "vardelic"
    direct: bool = False  # seat built-in players without the counting proxy
    out: str | None = None
    resume: bool = False
    retry_errors: bool = False
    replays: str | None = None  # the --records file


class _Speed(ProgressColumn):
    def render(self, task) -> Text:
        speed = task.finished_speed or task.speed
        return Text("– games/s" if speed is None else f"{speed:.2f} games/s")


def _progress(console: Console | None) -> Progress:
    return Progress(
        TextColumn("{task.description}"),
        BarColumn(),
        MofNCompleteColumn(),
        _Speed(),
        TimeElapsedColumn(),
        TextColumn("left"),
        TimeRemainingColumn(),
        console=console or Console(stderr=True),
        transient=False,
        refresh_per_second=4,
    )


def prepare_teams(teams: Sequence[str | Team] | str | Team) -> list[Team]:
    """Parse team texts and check every seat; py: classes are imported and
    constructed once here, so that a typo is refused before any game."""
    if isinstance(teams, (str, Team)):
        teams = [teams]  # one team, not a sequence of one-letter teams
    parsed = [parse_team(t) if isinstance(t, str) else t for t in teams]
    if not parsed:
        raise TeamError("no team given; compare at least one team, e.g. --team random,random")
    seen: dict[str, int] = {}
    for index, team in enumerate(parsed, 1):
        if team.name in seen:
            raise TeamError(
                f"team {index} is the same as team {seen[team.name]} ({team.name}); "
                "give each team once"
            )
        seen[team.name] = index
        check_team(team)
    return parsed


def sweep_seeds(seed: int, games: int) -> list[int]:
    if games < 1:
        raise UsageError("the number of games must be at least 1")
    if seed < 0 or seed + games - 1 > MASK64:
        raise UsageError(f"game seeds {seed}..{seed + games - 1} do not fit in 0..2**64-1")
    return list(range(seed, seed + games))


def check_engine(engine: str) -> None:
    try:
        importlib.import_module(engine)
    except Exception as err:  # noqa: BLE001 - whatever the import raised is the reason
        raise SetupError(
            f"cannot import the game engine module {engine!r} ({describe(err)}); "
            "build and install it with: pip install . (in the repository)"
        ) from None


def check_record_file(out: str, resume: bool) -> None:
    if not resume and os.path.exists(out) and os.path.getsize(out) > 0:
        raise RecordFileError(
            f"{out} already holds games; pass --resume to continue that sweep "
            "or choose another --out path"
        )


def check_replay_file(replays: str, out: str | None, resume: bool, engine: str) -> None:
    if engine != "vardelic":
        raise UsageError(
            f"--records keeps vardelic's action ids: it needs the vardelic engine, not {engine!r}"
        )
    if out and os.path.abspath(out) == os.path.abspath(replays):
        raise UsageError("--records needs a file of its own, not the --out file")
    if not resume and os.path.exists(replays) and os.path.getsize(replays) > 0:
        raise RecordFileError(
            f"{replays} already holds records; pass --resume to continue that sweep "
            "or choose another --records path"
        )


def plan_sweep(
    teams: Sequence[str | Team] | str | Team,
    games: int,
    seed: int = 0,
    *,
    out: str | None = None,
    resume: bool = False,
    retry_errors: bool = False,
    direct: bool = False,
    engine: str = "vardelic",
    replays: str | None = None,
) -> Sweep:
    """Check a sweep as evaluate() takes it; raise TeamError, UsageError or
    SetupError (errors.py) before any game is played."""
    team_list = prepare_teams(teams)
    seeds = sweep_seeds(seed, games)
    check_engine(engine)
    if out:
        check_record_file(out, resume)
    if replays:
        check_replay_file(replays, out, resume, engine)
    return Sweep(tuple(team_list), tuple(seeds), engine, direct, out, resume, retry_errors, replays)


def run_sweep(
    sweep: Sweep,
    executor: cf.Executor | None = None,
    progress: bool = True,
    *,
    workers: int | None = None,
    console: Console | None = None,
) -> Evaluation:
    """Play a checked sweep; see evaluate() for the arguments."""
    team_list, seeds = list(sweep.teams), list(sweep.seeds)
    store = RecordFile(sweep.out, sweep.resume) if sweep.out else None
    warnings = list(store.warnings) if store else []
    replays = ReplayFile(sweep.replays, sweep.resume) if sweep.replays else None
    warnings += replays.warnings if replays else []
    held: dict[tuple[str, int], GameRecord] = {}
    for record in store.records if store else []:
        if not (sweep.retry_errors and not record.finished):
            held[(record.team, record.seed)] = record
    tasks = sweep_tasks(
        team_list,
        seeds,
        sweep.engine,
        sweep.direct,
        skip=lambda name, s: (name, s) in held,
        record_moves=replays is not None,
    )
    fresh: list[GameRecord] = []
    failures: list[dict] = []

    def finish() -> Evaluation:
        by_team = games_by_team(team_list, seeds, [*held.values(), *fresh])
        ordered = [games[s] for games in by_team.values() for s in sorted(games)]
        return Evaluation(
            team_list, seeds, ordered, summarise(team_list, seeds, ordered), failures, warnings
        )

    bar = _progress(console) if progress else None
    bar_ids = {}
    if bar is not None:
        for index, team in enumerate(team_list, 1):
            done = sum(1 for s in seeds if (team.name, s) in held)
            bar_ids[team.name] = bar.add_task(
                f"{index}. {team.label}", total=len(seeds), completed=done
            )

    def on_outcome(outcome: Outcome) -> None:
        if outcome.record is None:
            failures.append(
                {
                    "team": outcome.task.team.name,
                    "seed": outcome.task.seed,
                    "failure": outcome.failure,
                }
            )
            return
        # The replay first: a kill between the two lines plays the game again on --resume,
        # which then finds its replay already there, rather than losing the replay.
        if replays is not None:
            replays.append(outcome.task, outcome.record)
        if store is not None:
            store.append(outcome.record)
        fresh.append(outcome.record)
        if bar is not None:
            bar.advance(bar_ids[outcome.task.team.name])

    try:
        runner.run(
            tasks,
            executor,
            workers,
            on_outcome,
            started=bar.start if bar is not None else (lambda: None),
        )
    except KeyboardInterrupt:
        raise Interrupted(finish()) from None
    finally:
        if bar is not None:
            bar.stop()
        if store is not None:
            store.close()
        if replays is not None:
            replays.close()
    return finish()


def evaluate(
    teams: Sequence[str | Team] | str | Team,
    games: int,
    seed: int = 0,
    executor: cf.Executor | None = None,
    progress: bool = True,
    *,
    workers: int | None = None,
    out: str | None = None,
    resume: bool = False,
    retry_errors: bool = False,
    direct: bool = False,
    engine: str = "vardelic",
    console: Console | None = None,
    replays: str | None = None,
) -> Evaluation:
    """Play `games` paired deals (seeds seed .. seed+games-1) for every team.

    teams: team texts as on the command line ("random,mcts(playouts=200)") or Team
    objects. executor: any concurrent.futures.Executor; by default a process
    pool of `workers` processes (all cores), workers=0 plays in this process.
    out/resume: the JSON-lines record file, as --out/--resume. direct seats
    built-in players without the counting proxy (no decision counts). engine
    names the module that provides the game (a stand-in for testing). replays: the
    file of replayable records (vardelic_rl.GameRecord JSON lines), as --records.

    A sweep that cannot start raises an ArenaError (TeamError, UsageError,
    SetupError) before any game. Ctrl-C raises Interrupted, whose
    .evaluation holds what finished.
    """
    sweep = plan_sweep(
        teams,
        games,
        seed,
        out=out,
        resume=resume,
        retry_errors=retry_errors,
        direct=direct,
        engine=engine,
        replays=replays,
    )
    return run_sweep(sweep, executor, progress, workers=workers, console=console)
