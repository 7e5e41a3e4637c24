"""Paired deals: the game seeds of a sweep, the seeds of its random seats,
and the tasks, one per (team, game seed)."""

from __future__ import annotations

from collections.abc import Callable, Iterable
from dataclasses import dataclass

from .teams import Team

MASK64 = 2**64 - 1
_GOLDEN = 0x9E3779B97F4A7C15


def splitmix64(x: int) -> int:
    x = (x + _GOLDEN) & MASK64
    x = ((x ^ (x >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
    x = ((x ^ (x >> 27)) * 0x94D049BB133111EB) & MASK64
    return x ^ (x >> 31)


def seat_seed(game_seed: int, seat: int) -> int:
    """Seed of a random seat: fixed per (game seed, seat index), so every team
    sees the same random opponents' choices on a given deal, and neighbouring
    game seeds do not give correlated seat seeds."""
    return splitmix64((game_seed ^ splitmix64(seat)) & MASK64)


@dataclass(frozen=True)
class GameTask:
    """One game to play. A pure function of these fields, so it can go to a
    worker process or a Dask cluster."""

    team: Team
    game: int  # index within the sweep; the record key is (team, seed)
    seed: int
    engine: str = "vardelic"
    direct: bool = False  # seat built-in players without the counting proxy
    record_moves: bool = False  # keep the action ids, for --records


def sweep_tasks(
    teams: Iterable[Team],
    seeds: list[int],
    engine: str,
    direct: bool,
    skip: Callable[[str, int], bool],
    record_moves: bool = False,
) -> list[GameTask]:
    """Tasks game by game, teams interleaved, so partial sweeps stay paired."""
    teams = list(teams)
    return [
        GameTask(team, game, seed, engine, direct, record_moves)
        for game, seed in enumerate(seeds)
        for team in teams
        if not skip(team.name, seed)
    ]
