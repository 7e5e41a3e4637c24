"""evaluate(): a whole sweep from Python, as the command line runs it."""

from __future__ import annotations

import concurrent.futures as cf
from collections.abc import Sequence
from dataclasses import dataclass, field

from rich.console import Console
from rich.progress import (BarColumn, MofNCompleteColumn, Progress, ProgressColumn,
                           TextColumn, TimeElapsedColumn, TimeRemainingColumn)
from rich.text import Text

from . import runner
from .runner import MASK64, Interrupted, Outcome, RecordFile
from .teams import TeamError, Team, check_team, parse_team
from .summary import Summary, summarise


@dataclass
class Evaluation:
    teams: list[Team]
    seeds: list[int]
    records: list[dict]  # one per finished or failed game, by team then seed
    summary: Summary
    failures: list[dict] = field(default_factory=list)  # games that did not run
    warnings: list[str] = field(default_factory=list)

    @property
    def complete(self) -> bool:
        return not self.failures and all(t.missing == 0 for t in self.summary.teams)


class _Speed(ProgressColumn):
    def render(self, task) -> Text:
        speed = task.finished_speed or task.speed
        return Text("– games/s" if speed is None else f"{speed:.2f} games/s")


def _progress(console: Console | None) -> Progress:
    return Progress(TextColumn("{task.description}"), BarColumn(), MofNCompleteColumn(),
                    _Speed(), TimeElapsedColumn(), TextColumn("left"), TimeRemainingColumn(),
                    console=console or Console(stderr=True), transient=False,
                    refresh_per_second=4)


def prepare_teams(teams: Sequence[str | Team] | str | Team) -> list[Team]:
    if isinstance(teams, (str, Team)):
        teams = [teams]  # one team, not a sequence of one-letter teams
    parsed = [parse_team(t) if isinstance(t, str) else t for t in teams]
    if not parsed:
        raise TeamError("no team given; compare at least one team, e.g. --team random,random")
    seen: dict[str, int] = {}
    for index, team in enumerate(parsed, 1):
        if team.name in seen:
            raise TeamError(f"team {index} is the same as team {seen[team.name]} ({team.name}); "
                            "give each team once")
        seen[team.name] = index
        check_team(team)
    return parsed


def sweep_seeds(seed: int, games: int) -> list[int]:
    if games < 1:
        raise ValueError("the number of games must be at least 1")
    if seed < 0 or seed + games - 1 > MASK64:
        raise ValueError(f"game seeds {seed}..{seed + games - 1} do not fit in 0..2**64-1")
    return list(range(seed, seed + games))


def evaluate(teams: Sequence[str | Team], games: int, seed: int = 0,
             executor: cf.Executor | None = None, progress: bool = True, *,
             workers: int | None = None, out: str | None = None, resume: bool = False,
             retry_errors: bool = False, direct: bool = False, engine: str = "vardelic",
             console: Console | None = None) -> Evaluation:
    """Play `games` paired deals (seeds seed .. seed+games-1) for every team.

    teams: team texts as on the command line ("random,mcts(playouts=200)") or Team
    objects. executor: any concurrent.futures.Executor; by default a process
    pool of `workers` processes (all cores), workers=0 plays in this process.
    out/resume: the JSON-lines record file, as --out/--resume. direct seats
    built-in players without the counting proxy (no decision counts). engine
    names the module that provides the game (a stand-in for testing).

    Ctrl-C raises runner.Interrupted, whose .evaluation holds what finished.
    """
    team_list = prepare_teams(teams)
    seeds = sweep_seeds(seed, games)
    problem = runner.engine_problem(engine)
    if problem:
        raise RuntimeError(problem)
    store = RecordFile(out, resume) if out else None
    warnings = list(store.warnings) if store else []
    held: dict[tuple[str, int], dict] = {}
    for record in store.records if store else []:
        if retry_errors and record.get("error") is not None:
            continue
        held[(record["team"], record["seed"])] = record
    tasks = runner.sweep_tasks(team_list, seeds, engine, direct,
                               skip=lambda name, s: (name, s) in held)
    fresh: list[dict] = []
    failures: list[dict] = []
    names = [t.name for t in team_list]

    def finish() -> Evaluation:
        records = list(held.values()) + fresh
        order = {name: i for i, name in enumerate(names)}
        wanted = set(seeds)
        merged: dict[tuple[str, int], dict] = {}
        for record in records:
            if record["team"] in order and record["seed"] in wanted:
                merged[(record["team"], record["seed"])] = record
        ordered = sorted(merged.values(), key=lambda r: (order[r["team"]], r["seed"]))
        summary = summarise(names, [t.players for t in team_list], seeds, ordered, seed,
                            [t.label for t in team_list])
        return Evaluation(team_list, seeds, ordered, summary, failures, warnings)

    bar = _progress(console) if progress else None
    bar_ids = {}
    if bar is not None:
        for index, team in enumerate(team_list, 1):
            done = sum(1 for s in seeds if (team.name, s) in held)
            bar_ids[team.name] = bar.add_task(f"{index}. {team.label}", total=len(seeds),
                                              completed=done)

    def on_outcome(outcome: Outcome) -> None:
        if outcome.record is None:
            failures.append({"team": outcome.task.team.name, "seed": outcome.task.seed,
                             "failure": outcome.failure})
            return
        if store is not None:
            store.append(outcome.record)
        fresh.append(outcome.record)
        if bar is not None:
            bar.advance(bar_ids[outcome.task.team.name])

    try:
        runner.run(tasks, executor, workers, on_outcome,
                   started=bar.start if bar is not None else (lambda: None))
    except KeyboardInterrupt:
        raise Interrupted(finish()) from None
    finally:
        if bar is not None:
            bar.stop()
        if store is not None:
            store.close()
    return finish()
