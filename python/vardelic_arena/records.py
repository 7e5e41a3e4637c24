"""Game records and the JSON-lines file that keeps them.

A record's JSON line holds, in this order:

    team game seed score won error [traceback error_seat] seconds [decisions decision_seconds actions]

traceback and error_seat only when the game failed; the three counts are
null where no counting seats were used (--direct), and left out of a game
whose process died, which took its counts with it.
"""

from __future__ import annotations

import json
import os
from dataclasses import dataclass
from typing import Any


def _is_int(value) -> bool:
    return isinstance(value, int) and not isinstance(value, bool)


def _line_problem(line) -> str | None:
    """What keeps a parsed line from being a game record the summary can use."""
    if (
        not isinstance(line, dict)
        or not isinstance(line.get("team"), str)
        or not _is_int(line.get("seed"))
    ):
        return "not a game record"
    if line.get("error") is None and not (
        _is_int(line.get("score")) and isinstance(line.get("won"), bool)
    ):
        return "a finished game without its score"
    if not (_is_int(line.get("seconds")) or isinstance(line.get("seconds"), float)):
        return "a game without its duration"
    return None


@dataclass
class GameRecord:
    """One played game: its result, or the error that ended it."""

    team: str  # the team's canonical name
    game: int | None  # index within the sweep that played it
    seed: int
    score: int | None
    won: bool | None
    error: str | None  # None: the game finished with a result
    seconds: float
    traceback: str | None = None
    error_seat: int | None = None  # the seat whose play() raised, if one did
    decisions: int | None = None
    decision_seconds: float | None = None
    actions: int | None = None  # decisions applied to the game
    counts_lost: bool = False  # the process died with the counts: the line has none
    # The action ids of a game played for --records; kept out of this record's own line.
    moves: list[int] | None = None

    @property
    def finished(self) -> bool:
        return self.error is None

    def to_json(self) -> dict:
        line: dict[str, Any] = {
            "team": self.team,
            "game": self.game,
            "seed": self.seed,
            "score": self.score,
            "won": self.won,
            "error": self.error,
        }
        if self.error is not None:
            line.update(traceback=self.traceback, error_seat=self.error_seat)
        line["seconds"] = self.seconds
        if not self.counts_lost:
            line.update(
                decisions=self.decisions,
                decision_seconds=self.decision_seconds,
                actions=self.actions,
            )
        return line

    @classmethod
    def from_json(cls, line) -> GameRecord:
        """The record of a parsed JSON line; ValueError if it is none."""
        problem = _line_problem(line)
        if problem:
            raise ValueError(problem)
        return cls(
            team=line["team"],
            game=line.get("game"),
            seed=line["seed"],
            score=line.get("score"),
            won=line.get("won"),
            error=line.get("error"),
            seconds=line["seconds"],
            traceback=line.get("traceback"),
            error_seat=line.get("error_seat"),
            decisions=line.get("decisions"),
            decision_seconds=line.get("decision_seconds"),
            actions=line.get("actions"),
            counts_lost="decisions" not in line,
        )

    def __getitem__(self, key: str):
        # Read like the JSON line, record["score"]: the form scripts and notebooks index.
        return self.to_json()[key]


def complete_lines(path: str, warnings: list[str]) -> list[str]:
    """The lines of a JSON-lines file that an append may have been cut off in: a last line cut
    off by a kill is dropped from the file (so the next append starts clean), with a warning."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.endswith(b"\n"):
        cut = data.rfind(b"\n") + 1
        warnings.append(f"{path}: dropped an incomplete last line")
        with open(path, "r+b") as f:
            f.truncate(cut)
        data = data[:cut]
    return data.decode("utf-8").splitlines()


class RecordFile:
    """Append-only JSON-lines file of finished games, one flushed line each.

    resume: read the games the file holds first (.records), dropping a line
    cut off by a kill and skipping unreadable ones (.warnings say which).
    """

    def __init__(self, path: str, resume: bool) -> None:
        self.path = path
        self.warnings: list[str] = []
        self.records: list[GameRecord] = []
        if resume and os.path.exists(path) and os.path.getsize(path) > 0:
            self.records = self._load()
        # Open for the whole sweep, so each game is one write; close() ends it.
        self._file = open(path, "a", encoding="utf-8")  # noqa: SIM115

    def _load(self) -> list[GameRecord]:
        records = []
        for number, line in enumerate(complete_lines(self.path, self.warnings), 1):
            if not line.strip():
                continue
            try:
                records.append(GameRecord.from_json(json.loads(line)))
            except ValueError as err:
                self.warnings.append(f"{self.path}:{number}: skipped unreadable line ({err})")
        return records

    def append(self, record: GameRecord) -> None:
        self._file.write(json.dumps(record.to_json()) + "\n")
        self._file.flush()

    def close(self) -> None:
        self._file.close()
