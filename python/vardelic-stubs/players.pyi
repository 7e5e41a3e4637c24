from typing import final

from . import PyState
from .actions import _Action

__all__ = ["RandomPlayer", "InputPlayer", "MCTSPlayer"]

@final
class RandomPlayer:
    """Picks uniformly among the legal actions with its own generator."""
    def __init__(self, seed: int | None = None) -> None:
        """Seeded: repeatable choices; no seed: seeded from the operating system."""
    def play(self, state: PyState) -> _Action:
        """Choose a legal action of the state at random."""

@final
class InputPlayer:
    """Lists the legal actions on the terminal and plays the number typed in."""
    def __init__(self) -> None:
        """A terminal player; seat it in a VardelicGame, it cannot be asked from Python."""

@final
class MCTSPlayer:
    """Monte-Carlo tree search over determinised samples of what its player cannot see."""
    def __init__(
        self,
        playouts: int,
        num_threads: int,
        use_heuristics: bool,
        policy_variation: int | None = None,
        deterministic_samples: int | None = None,
    ) -> None:
        """Playouts per sample, threads, rollout pruning, policy None/0/2/3/4, samples (1)."""
    def play(self, state: PyState) -> _Action:
        """Choose an action based on the given state"""
    def ranked_actions(self) -> list[tuple[_Action, int, float]]:
        """List actions with associated stats, sorted by most visits in the MCTS."""
