"""Evaluation runner: plays teams of players on paired deals and compares them."""

from .api import Evaluation, evaluate
from .runner import Interrupted, dask_executor, seat_seed
from .teams import TeamError, Team, parse_team
from .summary import Summary, TeamSummary

__all__ = ["evaluate", "Evaluation", "Interrupted", "parse_team", "Team", "TeamError",
           "Summary", "TeamSummary", "seat_seed", "dask_executor"]
