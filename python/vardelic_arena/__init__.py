"""Evaluation runner: plays teams of players on paired deals and compares them."""

from .api import Evaluation, Sweep, evaluate, plan_sweep, run_sweep
from .cluster import dask_executor
from .deals import seat_seed
from .errors import ArenaError, Interrupted, SetupError, TeamError, UsageError
from .records import GameRecord
from .summary import Summary, TeamSummary
from .teams import Team, parse_team

__all__ = [
    "ArenaError",
    "Evaluation",
    "GameRecord",
    "Interrupted",
    "SetupError",
    "Summary",
    "Sweep",
    "Team",
    "TeamError",
    "TeamSummary",
    "UsageError",
    "dask_executor",
    "evaluate",
    "parse_team",
    "plan_sweep",
    "run_sweep",
    "seat_seed",
]
