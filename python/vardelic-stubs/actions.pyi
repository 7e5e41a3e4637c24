# ActionRefillHand is registered in no module at runtime: it only comes from the legal
# actions of a solo game's state.
from collections.abc import Sequence
from typing import ClassVar, final

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
    """Attack with one card."""
    def __init__(self, card: Card) -> None:
        """Play this card."""
    def __eq__(self, other: object) -> bool:
        """True for an ActionPlay of an equal card."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionAnimalCombo:
    """Attack with an Ace and one other card."""
    def __init__(self, c1: Card, c2: Card) -> None:
        """Play the Ace c1 together with c2; the order matters."""
    def __eq__(self, other: object) -> bool:
        """True for an ActionAnimalCombo of equal cards in the same order."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionCombo:
    """Attack with two to four cards of one value, worth 10 at most together."""
    # At most 4 cards.
    def __init__(self, cards: Sequence[Card]) -> None:
        """Play these cards, in this order."""
    def __eq__(self, other: object) -> bool:
        """True for an ActionCombo of equal cards in the same order."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionYield:
    """Pass without attacking; the enemy strikes back."""
    # Arguments are accepted and ignored.
    def __init__(self, *args: object, **kwargs: object) -> None:
        """Yield; any arguments are ignored."""
    def __eq__(self, other: object) -> bool:
        """True for any other ActionYield."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionDiscard:
    """Discard cards worth at least the enemy's attack to survive its counter-attack."""
    # At most 8 cards.
    def __init__(self, cards: Sequence[Card]) -> None:
        """Discard these cards, in the order the legal actions list them."""
    def __eq__(self, other: object) -> bool:
        """True for an ActionDiscard of equal cards in the same order."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionChangePlayer:
    """After a jester, name the player who moves next."""
    def __init__(self, id: int) -> None:
        """Give the turn to the player with this index."""
    def __eq__(self, other: object) -> bool:
        """True for an ActionChangePlayer of the same index."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class ActionRefillHand:
    """Solo only: discard the whole hand and draw a new one (two per game)."""
    def __init__(self, *args: object, **kwargs: object) -> None:
        """Refill the hand; any arguments are ignored."""
    def __eq__(self, other: object) -> bool:
        """True for any other ActionRefillHand."""
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
