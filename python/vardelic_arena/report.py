"""Tables for people (rich) and the same figures as JSON."""

from __future__ import annotations

import json
import math

from rich.console import Console
from rich.markup import escape
from rich.table import Table

from .summary import Summary

_BARS = " ▁▂▃▄▅▆▇█"
# The mark of a team that sees hidden cards, explained under the table.
SEES_HIDDEN = "†"
SEES_HIDDEN_NOTE = (
    f"{SEES_HIDDEN} sees every hidden card (clairvoyant): a yardstick, not a fair player"
)


def sparkline(counts: list[int]) -> str:
    top = max(counts, default=0)
    if top == 0:
        return " " * len(counts)
    return "".join(_BARS[math.ceil(c / top * (len(_BARS) - 1))] for c in counts)


def _num(value: float, digits: int = 2) -> str:
    return "–" if value is None or not math.isfinite(value) else f"{value:.{digits}f}"


def _interval(low: float, high: float, digits: int = 2) -> str:
    if not (math.isfinite(low) and math.isfinite(high)):
        return "[–]"
    return f"[{low:.{digits}f}, {high:.{digits}f}]"


def _duration(seconds: float) -> str:
    if not math.isfinite(seconds):
        return "–"
    if seconds >= 1:
        return f"{seconds:.2f} s"
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds * 1e6:.1f} µs"


def summary_table(summary: Summary) -> Table:
    table = Table(
        title=f"{summary.games} paired deals, seeds {summary.base_seed}.."
        f"{summary.base_seed + summary.games - 1}",
        title_justify="left",
    )
    for header, justify in [
        ("team", "left"),
        ("games", "right"),
        ("wins", "right"),
        ("win % [95 %]", "right"),
        ("score [95 %]", "right"),
        ("0…12", "left"),
        ("s/game", "right"),
        ("s/decision", "right"),
        ("Δ score vs 1 [95 %]", "right"),
    ]:
        table.add_column(header, justify=justify, overflow="fold", no_wrap=header == "0…12")
    for index, team in enumerate(summary.teams, 1):
        games = str(team.games)
        if team.errors:
            games += f" +{team.errors} failed"
        if team.missing:
            games += f" ({team.missing} not played)"
        paired = "reference"
        if team.paired is not None:
            paired = (
                (
                    f"{team.paired.mean:+.2f} {_interval(team.paired.low, team.paired.high)}"
                    f" n={team.paired.pairs}"
                )
                if team.paired.pairs
                else "–"
            )
        table.add_row(
            f"{index}. {team.label}" + (f" {SEES_HIDDEN}" if team.sees_hidden else ""),
            games,
            str(team.wins),
            f"{_num(team.win_rate * 100 if math.isfinite(team.win_rate) else math.nan, 1)} % "
            f"{_interval(team.win_low * 100, team.win_high * 100, 1)}",
            f"{_num(team.mean_score)} {_interval(team.score_low, team.score_high)}",
            sparkline(team.histogram),
            _duration(team.seconds_per_game),
            _duration(team.seconds_per_decision),
            paired,
        )
    return table


def histogram_table(summary: Summary) -> Table:
    table = Table(title="games per score (12 = won)", title_justify="left")
    table.add_column("score", justify="right")
    for index, _ in enumerate(summary.teams, 1):
        table.add_column(f"team {index}", justify="right")
    for score in range(len(summary.teams[0].histogram) if summary.teams else 0):
        table.add_row(str(score), *(str(team.histogram[score]) for team in summary.teams))
    return table


def print_summary(summary: Summary, console: Console | None = None) -> None:
    console = console or Console()
    console.print(summary_table(summary))
    if any(team.sees_hidden for team in summary.teams):
        console.print(SEES_HIDDEN_NOTE, highlight=False)
    console.print(histogram_table(summary))
    for index, team in enumerate(summary.teams, 1):
        for group in team.error_groups:
            seeds = ", ".join(map(str, group["seeds"]))
            more = ", …" if group["games"] > len(group["seeds"]) else ""
            console.print(
                f"[red]team {index}: {group['games']} games failed[/] "
                f"(seeds {seeds}{more}): {escape(group['error'])}",
                highlight=False,
            )


def write_json(summary: Summary, path: str) -> None:
    with open(path, "w", encoding="utf-8") as f:
        json.dump(summary.to_dict(), f, indent=2)
        f.write("\n")
