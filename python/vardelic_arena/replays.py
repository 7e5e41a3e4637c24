"""The --records file: one replayable record per game (vardelic_rl.GameRecord's JSON line),
beside the result lines of --out. A replay record holds a game's seed and action ids, so any
arena game can be stepped through again; the result lines (records.py) hold its figures."""

from __future__ import annotations

import json
import os

from .deals import GameTask
from .records import GameRecord as ResultRecord
from .records import complete_lines


class ReplayFile:
    """Append-only JSON-lines file of replay records, one flushed line per finished game.

    resume: keep the lines the file holds (dropping one cut off by a kill) and write no second
    line for a game it already has; a game played again after a kill then keeps one record.
    """

    def __init__(self, path: str, resume: bool) -> None:
        self.path = path
        self.warnings: list[str] = []
        self._held: set[tuple[str, int]] = set()
        if resume and os.path.exists(path) and os.path.getsize(path) > 0:
            self._load()
        self._file = open(path, "a", encoding="utf-8")  # noqa: SIM115

    def _load(self) -> None:
        for line in complete_lines(self.path, self.warnings):
            try:
                held = json.loads(line)
                self._held.add((",".join(held["seats"]), held["seed"]))
            except (ValueError, KeyError, TypeError):
                continue  # not ours to judge: vardelic_rl.GameRecord.from_json says why

    def append(self, task: GameTask, result: ResultRecord) -> None:
        """Writes the replay record of a finished game that carries its moves."""
        if not result.finished or result.moves is None:
            return
        from vardelic_rl.records import GameRecord as ReplayRecord

        seats = [seat.canonical() for seat in task.team.seats]
        if (",".join(seats), task.seed) in self._held:
            return
        replay = ReplayRecord(
            num_players=len(seats),
            seed=task.seed,
            seats=seats,
            moves=result.moves,
            result="Won" if result.won else "Lost",
            score=result.score,
        )
        self._file.write(replay.to_json() + "\n")
        self._file.flush()

    def close(self) -> None:
        self._file.close()
