# Type information for the extension module vardelic. PlayerId, PyState and GameResult are
# registered in no module at runtime: Python code meets them only as values.
from collections.abc import Sequence
from typing import ClassVar, Protocol, final

from . import actions as actions
from . import card as card
from . import players as players
from .actions import _Action
from .card import Card, Enemy

__all__ = ["card", "actions", "players", "VardelicGame"]

class EngineError(BaseException):
    """An internal failure of the engine, carrying its fixed message."""

@final
class PlayerId:
    """The index of a player, 0 to N-1; returned by PyState.has_turn()."""
    def __index__(self) -> int:
        """The player's index, so a PlayerId can index a list."""
    def __int__(self) -> int:
        """The player's index."""
    def __eq__(self, other: object) -> bool:
        """True for a PlayerId with the same index (compare with an int through int())."""
    def __ne__(self, other: object) -> bool:
        """The negation of ==."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class PyState:
    """A private copy of a game state, handed to a Python player's play(state=...)."""
    def action_space(self) -> list[_Action]:
        """The legal actions of the player to move, in the engine's fixed order."""
    def has_turn(self) -> PlayerId:
        """The player to move."""
    def current_hand(self) -> list[Card]:
        """The hand of the player to move, in the order the cards were received."""
    def reward(self) -> int:
        """The number of enemies defeated so far (12 once all have fallen)."""
    def current_enemy(self) -> Enemy | None:
        """The enemy being fought, or None once the castle deck is empty."""

@final
class GameResult:
    """The outcome of VardelicGame.playout(): Won (int 0) or Lost (int 1)."""

    Won: ClassVar[GameResult]
    Lost: ClassVar[GameResult]
    def __int__(self) -> int:
        """0 for Won, 1 for Lost."""
    def __eq__(self, other: object) -> bool:
        """True for the same member or its int; TypeError for any other type."""
    def __ne__(self, other: object) -> bool:
        """The negation of ==."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

class _PythonPlayer(Protocol):
    """Any object whose play(state=...) returns one of the state's legal actions."""
    def play(self, *, state: PyState) -> _Action:
        """Choose an action for the player to move."""

_Seat = players.RandomPlayer | players.InputPlayer | players.MCTSPlayer | _PythonPlayer

@final
class VardelicGame:
    """A game of 1 to 4 seats, dealt from an optional seed, that runs its players to the end."""
    def __init__(self, players: Sequence[_Seat], seed: int | None = None) -> None:
        """Seat the players (built-in ones are copied) and deal; ValueError unless 1 to 4."""
    def playout(self) -> GameResult:
        """Play turns until the game ends; a turn that raises changes nothing."""
    def print(self) -> None:
        """Write a debugging dump of the current state to standard error."""
    def reward(self) -> int:
        """Enemies defeated: the score of a lost game, 12 after a win."""
