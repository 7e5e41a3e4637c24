"""The strength table and figure from bench/strength's arena summaries.

    python3 bench/strength_report.py strength_1p.json ... [--markdown PATH] [--plot PATH.png]

Each JSON file is one `vardelic-arena --json` summary of one player count. The table has a
row per team and player count: mean score with its 95 % interval, the paired difference to
the sweep's first team with its interval, the win rate with its Wilson interval, and
milliseconds per decision. The figure shows mean scores and win rates with their intervals.
"""

from __future__ import annotations

import argparse
import json
import re
import sys


def _team_name(label: str) -> str:
    # "ismcts(time_ms=2)*3" and "ismcts(time_ms=2)" are the same team at two table sizes.
    return re.sub(r"\*\d+$", "", label)


def load(paths: list[str]) -> list[dict]:
    rows = []
    for path in paths:
        with open(path, encoding="utf-8") as f:
            summary = json.load(f)
        for team in summary["teams"]:
            paired = team.get("paired")
            rows.append(
                {
                    "players": team["players"],
                    "team": _team_name(team["label"]),
                    "games": team["games"],
                    "errors": team["errors"],
                    "mean": team["mean_score"],
                    "low": team["score_low"],
                    "high": team["score_high"],
                    "diff": paired and paired["mean"],
                    "diff_low": paired and paired["low"],
                    "diff_high": paired and paired["high"],
                    "win": team["win_rate"],
                    "win_low": team["win_low"],
                    "win_high": team["win_high"],
                    "ms": 1000 * team["seconds_per_decision"]
                    if team["seconds_per_decision"] is not None
                    else None,
                }
            )
    return rows


def _interval(mean, low, high, digits=2, scale=1.0, sign=False) -> str:
    if mean is None:
        return "–"
    fmt = f"{{:{'+' if sign else ''}.{digits}f}}"
    text = fmt.format(mean * scale)
    if low is not None and high is not None:
        text += f" [{low * scale:.{digits}f}, {high * scale:.{digits}f}]"
    return text


def markdown(rows: list[dict]) -> str:
    lines = [
        (
            "| players | team | games | mean score [95 % CI] | vs first team [95 % CI] "
            "| wins % [95 % CI] | ms / decision |"
        ),
        "|---|---|---|---|---|---|---|",
    ]
    for r in rows:
        games = f"{r['games']}" + (f" ({r['errors']} failed)" if r["errors"] else "")
        ms = f"{r['ms']:.1f}" if r["ms"] is not None else "–"
        lines.append(
            f"| {r['players']} | `{r['team']}` | {games} | {_interval(r['mean'], r['low'], r['high'])} "
            f"| {_interval(r['diff'], r['diff_low'], r['diff_high'], sign=True)} "
            f"| {_interval(r['win'], r['win_low'], r['win_high'], digits=1, scale=100)} | {ms} |"
        )
    return "\n".join(lines) + "\n"


def plot(rows: list[dict], path: str) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    teams = list(dict.fromkeys(r["team"] for r in rows))
    counts = sorted({r["players"] for r in rows})
    fig, (scores, wins) = plt.subplots(1, 2, figsize=(11, 4.2))
    width = 0.8 / len(teams)
    for i, team in enumerate(teams):
        mine = {r["players"]: r for r in rows if r["team"] == team}
        xs = [n - 0.4 + width * (i + 0.5) for n in counts if n in mine]
        got = [mine[n] for n in counts if n in mine]
        scores.bar(
            xs,
            [r["mean"] for r in got],
            width,
            label=team,
            yerr=[[r["mean"] - r["low"] for r in got], [r["high"] - r["mean"] for r in got]],
            capsize=2,
        )
        wins.bar(
            xs,
            [100 * r["win"] for r in got],
            width,
            label=team,
            yerr=[
                [100 * (r["win"] - r["win_low"]) for r in got],
                [100 * (r["win_high"] - r["win"]) for r in got],
            ],
            capsize=2,
        )
    scores.set(
        xlabel="players",
        ylabel="mean score (enemies defeated, win = 12)",
        xticks=counts,
        ylim=(0, 12),
    )
    wins.set(xlabel="players", ylabel="games won (%)", xticks=counts)
    scores.legend(fontsize=8, loc="lower left")
    fig.suptitle("Paired deals, 95 % intervals")
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("summaries", nargs="+", help="vardelic-arena --json files")
    parser.add_argument("--markdown", help="write the table here as well")
    parser.add_argument("--plot", help="write the figure here (PNG)")
    args = parser.parse_args(argv)
    rows = load(args.summaries)
    table = markdown(rows)
    sys.stdout.write(table)
    if args.markdown:
        with open(args.markdown, "w", encoding="utf-8") as f:
            f.write(table)
    if args.plot:
        plot(rows, args.plot)
    return 0


if __name__ == "__main__":
    sys.exit(main())
