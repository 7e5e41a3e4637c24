from typing import ClassVar, NamedTuple

from vardelic import PyState
from vardelic.actions import _Action

class Setting(NamedTuple):
    name: str
    type: str
    default: float | int | str | bool | None
    check: str
    help: str

class ISMCTSPlayer:
    SETTINGS: ClassVar[tuple[Setting, ...]]
    def __init__(
        self,
        *,
        time_ms: float | None = None,
        iterations: int | None = None,
        threads: int = 1,
        seed: int | None = None,
        exploration: float = 0.2,
        rollout: str = "heuristic",
        epsilon: float = 0.1,
        widening: bool = True,
        reuse: bool = True,
        partners: str = "search",
        branch: str = "enemy",
        remember: bool = True,
        horizon: int | None = None,
        heuristic: str = "tuned",
        redeal: str = "hidden",
    ) -> None: ...
    def play(self, state: PyState) -> _Action: ...
    def ranked_actions(self) -> list[tuple[_Action, int, float]]: ...
    def last_decision(self) -> dict[str, int | float]: ...

class ClairvoyantPlayer:
    def __init__(
        self,
        *,
        time_ms: float | None = None,
        iterations: int | None = None,
        threads: int = 1,
        seed: int | None = None,
        exploration: float = 0.2,
        rollout: str = "heuristic",
        epsilon: float = 0.1,
        widening: bool = True,
        reuse: bool = True,
        partners: str = "search",
        branch: str = "enemy",
        remember: bool = True,
        horizon: int | None = None,
        heuristic: str = "tuned",
        sees: str = "all",
    ) -> None: ...
    def play(self, state: PyState) -> _Action: ...
    def ranked_actions(self) -> list[tuple[_Action, int, float]]: ...
    def last_decision(self) -> dict[str, int | float]: ...
