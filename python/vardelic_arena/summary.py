"""Per-team figures of a sweep, computed from its game records."""

from __future__ import annotations

import math
from collections.abc import Iterable, Sequence
from dataclasses import asdict, dataclass, field

from . import stats
from .records import GameRecord
from .teams import Team


@dataclass
class PairedDifference:
    against: str
    pairs: int
    mean: float
    low: float
    high: float


@dataclass
class TeamSummary:
    team: str
    label: str
    players: int
    planned: int  # games in the sweep
    games: int  # games that finished with a result
    errors: int
    missing: int  # not played (interrupted, lost workers)
    wins: int
    win_rate: float
    win_low: float
    win_high: float
    mean_score: float
    score_low: float
    score_high: float
    histogram: list[int]
    seconds_per_game: float
    seconds_per_decision: float
    decisions_per_game: float
    paired: PairedDifference | None = None
    # A seat sees cards hidden from it (clairvoyant): a yardstick, not a fair result.
    sees_hidden: bool = False
    # Failed games grouped by error text: {"error", "games", "seeds" (first few)}.
    error_groups: list[dict] = field(default_factory=list)


@dataclass
class Summary:
    base_seed: int
    games: int
    teams: list[TeamSummary]

    def to_dict(self) -> dict:
        return _finite(asdict(self))


def _finite(value):
    # JSON has no nan; an interval that cannot be formed is null.
    if isinstance(value, float) and not math.isfinite(value):
        return None
    if isinstance(value, dict):
        return {k: _finite(v) for k, v in value.items()}
    if isinstance(value, list):
        return [_finite(v) for v in value]
    return value


def _clamp(interval: tuple[float, float, float], low: float, high: float):
    # Scores are bounded; a t interval near a bound can reach past it.
    mean, a, b = interval
    return (mean, max(a, low) if math.isfinite(a) else a, min(b, high) if math.isfinite(b) else b)


def _ratio(num: float, den: float) -> float:
    return num / den if den else math.nan


def _group_errors(failed: list[GameRecord]) -> list[dict]:
    groups: dict[str, list[int]] = {}
    for record in failed:
        groups.setdefault(record.error, []).append(record.seed)
    return [
        {"error": error, "games": len(seeds), "seeds": seeds[:10]}
        for error, seeds in sorted(groups.items(), key=lambda item: -len(item[1]))
    ]


def games_by_team(
    teams: Sequence[Team], seeds: Sequence[int], records: Iterable[GameRecord]
) -> dict[str, dict[int, GameRecord]]:
    """The record of every game of the sweep by team name and seed; records of
    other teams or seeds are left out, and a later record of a game wins."""
    wanted = set(seeds)
    by_team: dict[str, dict[int, GameRecord]] = {team.name: {} for team in teams}
    for record in records:
        games = by_team.get(record.team)
        if games is not None and record.seed in wanted:
            games[record.seed] = record
    return by_team


def summarise(
    teams: Sequence[Team], seeds: Sequence[int], records: Iterable[GameRecord]
) -> Summary:
    """Figures per team over the sweep's seeds; the first team is the
    reference of the paired differences."""
    by_team = games_by_team(teams, seeds, records)
    summaries = []
    reference: dict[int, float] | None = None
    for team in teams:
        games = by_team[team.name]
        finished = [r for r in games.values() if r.finished]
        failed = sorted((r for r in games.values() if not r.finished), key=lambda r: r.seed)
        scores = {r.seed: float(r.score) for r in finished}
        wins = sum(1 for r in finished if r.won)
        n = len(finished)
        low, high = stats.wilson_interval(wins, n)
        mean, s_low, s_high = _clamp(stats.mean_interval(list(scores.values())), 0, stats.MAX_SCORE)
        counted = [r for r in finished if r.decisions is not None]
        decisions = sum(r.decisions for r in counted)
        summary = TeamSummary(
            team=team.name,
            label=team.label,
            players=team.players,
            planned=len(seeds),
            games=n,
            errors=len(failed),
            missing=len(seeds) - len(games),
            wins=wins,
            win_rate=_ratio(wins, n),
            win_low=low,
            win_high=high,
            mean_score=mean,
            score_low=s_low,
            score_high=s_high,
            histogram=stats.histogram([r.score for r in finished]),
            seconds_per_game=_ratio(sum(r.seconds for r in finished), n),
            seconds_per_decision=_ratio(sum(r.decision_seconds for r in counted), decisions),
            decisions_per_game=_ratio(decisions, len(counted)),
            error_groups=_group_errors(failed),
            sees_hidden=team.sees_hidden,
        )
        if reference is None:
            reference = scores
        else:
            pairs, d_mean, d_low, d_high = stats.paired_difference(reference, scores)
            _, d_low, d_high = _clamp((d_mean, d_low, d_high), -stats.MAX_SCORE, stats.MAX_SCORE)
            summary.paired = PairedDifference(teams[0].name, pairs, d_mean, d_low, d_high)
        summaries.append(summary)
    return Summary(base_seed=seeds[0] if seeds else 0, games=len(seeds), teams=summaries)
