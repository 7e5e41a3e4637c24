# Enemy is registered in no module at runtime: it is only returned by PyState.current_enemy.
from typing import ClassVar, final

__all__ = ["Card", "CardSuit", "CardValue"]

@final
class Card:
    """A playing card; str() gives its text ("♥Q", "♣10", "Jester"); it has no attributes."""
    def __init__(self, suit: CardSuit, value: CardValue) -> None:
        """The card of this suit and value."""
    def __eq__(self, other: object) -> bool:
        """True for a Card of the same suit and value."""
    def __ne__(self, other: object) -> bool:
        """True for a Card that differs in suit or value."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class CardSuit:
    """The suit of a card: Spades 0, Hearts 1, Diamonds 2, Clubs 3 (and None 4, the jester's)."""

    Spades: ClassVar[CardSuit]
    Hearts: ClassVar[CardSuit]
    Diamonds: ClassVar[CardSuit]
    Clubs: ClassVar[CardSuit]
    # The jester's suit is the class attribute "None", reachable only through getattr.
    @staticmethod
    def all() -> list[CardSuit]:
        """The four real suits: Spades, Hearts, Diamonds, Clubs."""
    def __int__(self) -> int:
        """The suit's number."""
    def __eq__(self, other: object) -> bool:
        """True for the same suit or its number; TypeError for any other type."""
    def __ne__(self, other: object) -> bool:
        """Python's default inequality."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class CardValue:
    """The value of a card, numbered Jester 0, Ace 1 ... Ten 10, Jack 11, Queen 12, King 13."""

    Jester: ClassVar[CardValue]
    Ace: ClassVar[CardValue]
    Two: ClassVar[CardValue]
    Three: ClassVar[CardValue]
    Four: ClassVar[CardValue]
    Five: ClassVar[CardValue]
    Six: ClassVar[CardValue]
    Seven: ClassVar[CardValue]
    Eight: ClassVar[CardValue]
    Nine: ClassVar[CardValue]
    Ten: ClassVar[CardValue]
    Jack: ClassVar[CardValue]
    Queen: ClassVar[CardValue]
    King: ClassVar[CardValue]
    @staticmethod
    def numbers() -> list[CardValue]:
        """The ten number values, Ace to Ten."""
    @staticmethod
    def royals() -> list[CardValue]:
        """The royal values, highest first: King, Queen, Jack."""
    def __int__(self) -> int:
        """The value's number (not its attack value: a Queen attacks for 15)."""
    def __eq__(self, other: object) -> bool:
        """True for the same value or its number; TypeError for any other type."""
    def __ne__(self, other: object) -> bool:
        """Python's default inequality."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class Enemy:
    """The royal card being fought; str() shows its card, health, attack and jester flag."""
