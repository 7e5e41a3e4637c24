# Enemy is registered in no module at runtime: it is only returned by PyState.current_enemy.
from typing import ClassVar, final

__all__ = ["Card", "CardSuit", "CardValue"]

@final
class Card:
    def __init__(self, suit: CardSuit, value: CardValue) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class CardSuit:
    Spades: ClassVar[CardSuit]
    Hearts: ClassVar[CardSuit]
    Diamonds: ClassVar[CardSuit]
    Clubs: ClassVar[CardSuit]
    # The jester's suit is the class attribute "None", reachable only through getattr.
    @staticmethod
    def all() -> list[CardSuit]: ...
    def __int__(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class CardValue:
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
    def numbers() -> list[CardValue]: ...
    @staticmethod
    def royals() -> list[CardValue]: ...
    def __int__(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class Enemy: ...
