"""Why a sweep cannot start, or did not finish.

    ArenaError                     refused before any game is played
    ├── UsageError (ValueError)    the arguments describe no playable sweep
    │   ├── TeamError              a team text, or a py: class that cannot play
    │   └── RecordFileError        --out holds another sweep's games
    └── SetupError (RuntimeError)  the machine lacks what the sweep needs
                                   (the engine module, Dask, a scheduler)
    Interrupted (KeyboardInterrupt)  Ctrl-C; carries what finished

The command line shows its usage with a UsageError and only the message
with a SetupError; both end it with status 2.
"""

from __future__ import annotations


class ArenaError(Exception):
    """A sweep refused before any game is played; the message says how to fix it."""


class UsageError(ArenaError, ValueError):
    """Arguments that describe no playable sweep."""


class TeamError(UsageError):
    """A team text that cannot be played, with a hint how to write it."""


class RecordFileError(UsageError, FileExistsError):
    """The record file named for a new sweep already holds games."""


class SetupError(ArenaError, RuntimeError):
    """What the sweep needs cannot be had: the engine module, Dask or a scheduler."""


class Interrupted(KeyboardInterrupt):
    """Ctrl-C during a sweep; .evaluation holds the games finished so far."""

    def __init__(self, evaluation) -> None:
        super().__init__("interrupted")
        self.evaluation = evaluation
