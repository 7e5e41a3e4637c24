from typing import final

from . import PyState
from .actions import _Action

__all__ = ["RandomPlayer", "InputPlayer", "MCTSPlayer"]

@final
class RandomPlayer:
    def __init__(self, seed: int | None = None) -> None: ...
    def play(self, state: PyState) -> _Action: ...

@final
class InputPlayer:
    def __init__(self) -> None: ...

@final
class MCTSPlayer:
    def __init__(
        self,
        playouts: int,
        num_threads: int,
        use_heuristics: bool,
        policy_variation: int | None = None,
        deterministic_samples: int | None = None,
    ) -> None: ...
    def play(self, state: PyState) -> _Action:
        """Choose an action based on the given state"""
    def ranked_actions(self) -> list[tuple[_Action, int, float]]:
        """List actions with associated stats, sorted by most visits in the MCTS."""
