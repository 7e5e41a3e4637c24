# ActionRefillHand is registered in no module at runtime: it only comes from the legal
# actions of a solo game's state.
from typing import ClassVar, Sequence, final

from .card import Card

__all__ = [
    "ActionPlay",
    "ActionAnimalCombo",
    "ActionCombo",
    "ActionYield",
    "ActionDiscard",
    "ActionChangePlayer",
]

@final
class ActionPlay:
    def __init__(self, card: Card) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionAnimalCombo:
    def __init__(self, c1: Card, c2: Card) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionCombo:
    # At most 4 cards.
    def __init__(self, cards: Sequence[Card]) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionYield:
    # Arguments are accepted and ignored.
    def __init__(self, *args: object, **kwargs: object) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionDiscard:
    # At most 8 cards.
    def __init__(self, cards: Sequence[Card]) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionChangePlayer:
    def __init__(self, id: int) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionRefillHand:
    def __init__(self, *args: object, **kwargs: object) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

_Action = (
    ActionPlay
    | ActionAnimalCombo
    | ActionCombo
    | ActionYield
    | ActionDiscard
    | ActionChangePlayer
    | ActionRefillHand
)
