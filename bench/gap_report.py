"""The gap table from bench/strength --gap's arena sweeps.

    python3 bench/gap_report.py gap_2p_iterations1000.json ... [--markdown PATH]

Each JSON file is one `vardelic-arena --json` summary whose first team is the honest
`ismcts(BUDGET)` H; its game records are read from the .jsonl beside it. A row per other team
T of the sweep (the clairvoyant bound C, the yardstick that sees the other hands only, and any
honest variant): H's and T's mean scores and win rates, and T − H on the same deals in points
and in games won (percentage points), each with a 95 % paired t interval. Where the sweep holds
C, the notes give each other team's share of the gap, (T − H) / (C − H); for the old pooled
re-deal V, the share of the gap from V to C that H closes, (H − V) / (C − V).
"""

from __future__ import annotations

import argparse
import json
import os
import re
import sys

from vardelic_arena import stats


def _records(path: str) -> dict[str, dict[int, dict]]:
    """Finished games of the sweep beside `path`, by team name and seed."""
    games: dict[str, dict[int, dict]] = {}
    with open(os.path.splitext(path)[0] + ".jsonl", encoding="utf-8") as f:
        for line in f:
            record = json.loads(line)
            if record.get("error") is None:
                games.setdefault(record["team"], {})[record["seed"]] = record
    return games


def _budget(label: str) -> str:
    found = re.search(r"\((.*?)\)", label)
    return found[1] if found else "defaults"


def _clamped(paired: tuple, bound: float) -> tuple:
    # A t interval on few pairs can reach past what a difference can be.
    pairs, mean, low, high = paired
    return (pairs, mean, max(low, -bound), min(high, bound))


def load(paths: list[str]) -> list[dict]:
    rows = []
    for path in paths:
        with open(path, encoding="utf-8") as f:
            summary = json.load(f)
        games = _records(path)
        honest, *others = summary["teams"]
        h = games.get(honest["team"], {})
        for team in others:
            t = games.get(team["team"], {})
            pairs, points, p_low, p_high = _clamped(
                stats.paired_difference(
                    {s: r["score"] for s, r in h.items()}, {s: r["score"] for s, r in t.items()}
                ),
                stats.MAX_SCORE,
            )
            _, wins, w_low, w_high = _clamped(
                stats.paired_difference(
                    {s: float(r["won"]) for s, r in h.items()},
                    {s: float(r["won"]) for s, r in t.items()},
                ),
                1.0,
            )
            rows.append(
                {
                    "players": honest["players"],
                    "budget": _budget(honest["label"]),
                    "honest": honest,
                    "team": team,
                    "pairs": pairs,
                    "points": (points, p_low, p_high),
                    "wins": (wins, w_low, w_high),
                }
            )
    return rows


def _num(value, digits=2, scale=1.0, sign=False) -> str:
    if value is None or value != value:
        return "–"
    return f"{value * scale:{'+' if sign else ''}.{digits}f}"


def _with_interval(triple, digits=2, scale=1.0) -> str:
    mean, low, high = triple
    return (
        f"{_num(mean, digits, scale, sign=True)} "
        f"[{_num(low, digits, scale, sign=True)}, {_num(high, digits, scale, sign=True)}]"
    )


def _team(summary: dict) -> str:
    return re.sub(r"\*\d+$", "", summary["label"]) + (" †" if summary.get("sees_hidden") else "")


def markdown(rows: list[dict]) -> str:
    lines = [
        "| players | budget | H: ismcts score, wins % | T | T score, wins % "
        "| T − H points [95 % CI] | T − H wins, pp [95 % CI] | deals | ms / decision H, T |",
        "|---|---|---|---|---|---|---|---|---|",
    ]
    for r in rows:
        h, t = r["honest"], r["team"]
        ms = " / ".join(
            _num(s["seconds_per_decision"], 1, 1000) for s in (h, t)
        )  # wall time, load included
        lines.append(
            f"| {r['players']} | `{r['budget']}` "
            f"| {_num(h['mean_score'])}, {_num(h['win_rate'], 1, 100)} "
            f"| `{_team(t)}` | {_num(t['mean_score'])}, {_num(t['win_rate'], 1, 100)} "
            f"| {_with_interval(r['points'])} | {_with_interval(r['wins'], 1, 100)} "
            f"| {r['pairs']} | {ms} |"
        )
    notes = []
    cells: dict[tuple, dict] = {}
    for r in rows:
        cells.setdefault((r["players"], r["budget"]), {})[r["team"]["label"]] = r
    for (players, budget), teams in cells.items():
        bound = next(
            (
                r
                for r in teams.values()
                if r["team"].get("sees_hidden") and "sees=hands" not in r["team"]["label"]
            ),
            None,
        )
        if bound is None:
            continue
        where = f"- {players} player(s), `{budget}`:"
        for r in teams.values():
            if r is bound or bound["points"][0] == r["points"][0]:
                continue
            if "redeal=pooled" in r["team"]["label"]:
                # The earlier re-deal V: the share of the gap from V to the bound that H
                # closes, (H - V) / (C - V), from the paired means.
                share = -r["points"][0] / (bound["points"][0] - r["points"][0])
                notes.append(
                    f"{where} `{_team(r['honest'])}` closes {share * 100:.0f} % of the gap in "
                    f"points between `{_team(r['team'])}` and the bound (point estimate, no "
                    "interval)."
                )
                continue
            # Any other team T: (T - H) / (C - H), the share of H's gap to the bound that T
            # wins (a yardstick seeing the other hands: what knowing them is worth).
            share = r["points"][0] / bound["points"][0]
            notes.append(
                f"{where} `{_team(r['team'])}` wins {share * 100:.0f} % of the gap in points "
                f"between `{_team(r['honest'])}` and the bound (point estimate, no interval)."
            )
    lines.append("")
    lines.append(
        "† sees hidden cards (every card, or with sees=hands the other hands): a yardstick, "
        "not a fair player; the bound C is the one that sees every card."
    )
    if notes:
        lines.append("")
        lines.extend(notes)
    return "\n".join(lines) + "\n"


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("summaries", nargs="+", help="vardelic-arena --json files")
    parser.add_argument("--markdown", help="write the table here as well")
    args = parser.parse_args(argv)
    table = markdown(load(args.summaries))
    sys.stdout.write(table)
    if args.markdown:
        with open(args.markdown, "w", encoding="utf-8") as f:
            f.write(table)
    return 0


if __name__ == "__main__":
    sys.exit(main())
