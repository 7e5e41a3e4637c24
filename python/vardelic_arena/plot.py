"""Figure of a sweep: score distribution and mean score per team."""

from __future__ import annotations

import math

from .summary import Summary


def write_plot(summary: Summary, path: str) -> None:
    # The Agg canvas directly: no pyplot state, no display needed.
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    teams = summary.teams
    fig = Figure(figsize=(12, 4.8), layout="constrained")
    FigureCanvasAgg(fig)
    dist, means = fig.subplots(1, 2, width_ratios=[2, 1])
    width = 0.8 / max(len(teams), 1)
    for index, team in enumerate(teams):
        total = sum(team.histogram) or 1
        xs = [score - 0.4 + width * (index + 0.5) for score in range(len(team.histogram))]
        dist.bar(
            xs,
            [count / total for count in team.histogram],
            width=width,
            color=f"C{index}",
            label=f"{index + 1}. {team.label}",
        )
    dist.set_xlabel("score (enemies defeated, 12 = won)")
    dist.set_ylabel("share of games")
    dist.set_xticks(range(13))
    dist.set_title("score distribution")
    dist.legend(fontsize="small", loc="upper center")

    # Each team's tick says how many games its point stands on; a team without a finished
    # game gets no point, and one without an interval is drawn hollow.
    labels = [f"{index + 1}\nn={team.games}" for index, team in enumerate(teams)]
    for index, (label, team) in enumerate(zip(labels, teams, strict=True)):
        if not math.isfinite(team.mean_score):
            means.plot([label], [0.0], alpha=0)  # keeps the tick
            continue
        exact = math.isfinite(team.score_low) and math.isfinite(team.score_high)
        yerr = (
            [[team.mean_score - team.score_low], [team.score_high - team.mean_score]]
            if exact
            else None
        )
        means.errorbar(
            [label],
            [team.mean_score],
            yerr=yerr,
            fmt="o",
            capsize=6,
            color=f"C{index}",
            markerfacecolor=f"C{index}" if exact else "none",
        )
    means.set_xlabel("team")
    means.set_ylabel("mean score, 95 % interval")
    means.set_title(f"{summary.games} paired deals")
    means.set_ylim(bottom=0)
    fig.savefig(path, dpi=100)
