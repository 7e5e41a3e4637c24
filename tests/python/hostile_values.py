"""Hypothesis strategies for arbitrary and hostile Python values, shared by the property tests.

A hostile object raises from one of the protocols the binding may use (__eq__, __index__,
__int__, __len__, __getitem__) or changes its length while it is read. Every exception such an
object raises is recorded, so a test can tell an exception passed through unchanged from one
that the module made up.
"""

import re
import sys

import vardelic
from conftest import actions, card, first_state, make_card, players
from hypothesis import strategies as st

# What the module may raise on its own.
DOCUMENTED = (TypeError, ValueError, OverflowError, KeyError, RuntimeError, vardelic.EngineError)
ENGINE_MESSAGES = (
    r"No actions available to choose from|assertion failed: num_threads != 0"
    r"|Could not determine policy from number '\d+'|Error reading input\."
)


class Boom(Exception):
    """Raised by hostile objects."""


class Halt(BaseException):
    """Raised by hostile objects: not an Exception, so nothing may swallow it by accident."""


RAISED = []  # every exception a hostile object raised, in order


def fail(kind, where):
    error = kind(where)
    RAISED.append(error)
    raise error


def check_outcome(error):
    """An exception that reached the caller is documented or is a hostile object's own."""
    if any(error is raised for raised in RAISED):
        return  # passed through unchanged
    assert not isinstance(error, (Boom, Halt)), f"a copy of {error!r}, not the original"
    assert isinstance(error, DOCUMENTED), f"undocumented {type(error).__name__}: {error}"
    if isinstance(error, vardelic.EngineError):  # the engine's own messages, no library text
        assert re.fullmatch(ENGINE_MESSAGES, str(error)), str(error)
    assert not isinstance(error, (SystemError, MemoryError, UnicodeError)), repr(error)
    str(error)  # the message can be read


# Hostile objects --------------------------------------------------------------------------------


class RaisingEq:
    def __init__(self, kind):
        self.kind = kind

    def __eq__(self, other):
        fail(self.kind, "__eq__")

    def __ne__(self, other):
        fail(self.kind, "__ne__")

    __lt__ = __le__ = __gt__ = __ge__ = __eq__
    __hash__ = None

    def __repr__(self):
        return f"RaisingEq({self.kind.__name__})"


class RaisingIndex:
    def __init__(self, kind):
        self.kind = kind

    def __index__(self):
        fail(self.kind, "__index__")

    def __repr__(self):
        return f"RaisingIndex({self.kind.__name__})"


class RaisingInt:
    """Convertible by int() only, and even that fails."""

    def __init__(self, kind):
        self.kind = kind

    def __int__(self):
        fail(self.kind, "__int__")

    def __float__(self):
        fail(self.kind, "__float__")

    def __repr__(self):
        return f"RaisingInt({self.kind.__name__})"


class WeirdIndex:
    """__index__ answering with whatever it was given (a huge int, a float, None...)."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"WeirdIndex({self.value!r})"


class BadSequence:
    """The sequence protocol with a given length; item `broken` raises (or never, if None)."""

    def __init__(self, items, length, broken, kind):
        self.items, self.length, self.broken, self.kind = items, length, broken, kind

    def __len__(self):
        if self.length is None:
            fail(self.kind, "__len__")
        return self.length

    def __getitem__(self, index):
        if index == self.broken:
            fail(self.kind, "__getitem__")
        if isinstance(index, int) and 0 <= index < len(self.items):
            return self.items[index]
        if isinstance(index, int) and index < (self.length or 0):
            return self.items[index % len(self.items)] if self.items else None
        raise IndexError(index)

    def __repr__(self):
        return f"BadSequence(len={self.length}, broken={self.broken}, {self.items!r})"


class Shrinking(list):
    """A list that loses its last element whenever one is read; reading past its shrunk end
    raises its own IndexError, recorded like any other hostile exception."""

    def __getitem__(self, index):
        try:
            value = list.__getitem__(self, index)
        except IndexError as error:
            RAISED.append(error)
            raise
        if len(self):
            self.pop()
        return value


class Growing(list):
    """A list that gains a copy of the element read, whenever one is read."""

    def __getitem__(self, index):
        value = list.__getitem__(self, index)
        if len(self) < 100:
            self.append(value)
        return value


class StrSub(str):
    def __eq__(self, other):
        fail(Boom, "StrSub.__eq__")

    __hash__ = str.__hash__


# Strategies -------------------------------------------------------------------------------------

EDGE_INTS = [
    0,
    1,
    -1,
    7,
    255,
    256,
    2**31,
    2**32 - 1,
    2**32,
    2**63 - 1,
    2**63,
    2**64 - 1,
    2**64,
    -(2**63),
    -(2**64),
    sys.maxsize,
    -sys.maxsize - 1,
    10**40,
    -(10**40),
]

ints = st.one_of(st.sampled_from(EDGE_INTS), st.integers(), st.integers(-(2**200), 2**200))
kinds = st.sampled_from([Boom, Halt, TypeError, ValueError, KeyboardInterrupt, StopIteration])


@st.composite
def module_objects(draw):
    """A valid object of the module, made fresh or taken from a shared pool."""
    solo, duo = POOL["solo"], POOL["duo"]
    makers = [
        lambda: card.CardSuit.Hearts,
        lambda: getattr(card.CardSuit, "None"),
        lambda: card.CardValue.King,
        lambda: card.CardValue.Jester,
        lambda: make_card("Spades", "Ace"),
        lambda: make_card("None", "Jester"),
        lambda: actions.ActionYield(),
        lambda: actions.ActionPlay(make_card("Clubs", "Ten")),
        lambda: actions.ActionChangePlayer(2),
        lambda: actions.ActionDiscard([]),
        lambda: solo.action_space()[0],
        lambda: solo,
        lambda: duo,
        lambda: solo.has_turn(),
        lambda: solo.current_enemy(),
        lambda: POOL["result"],
        lambda: players.RandomPlayer(seed=3),
        lambda: players.InputPlayer(),
        lambda: players.MCTSPlayer(2, 1, False),
        lambda: card.Card,
        lambda: vardelic.VardelicGame([players.RandomPlayer(seed=1)], seed=1),
    ]
    return draw(st.sampled_from(makers))()


@st.composite
def hostile_objects(draw):
    kind = draw(kinds)
    choice = draw(st.integers(0, 7))
    if choice == 0:
        return RaisingEq(kind)
    if choice == 1:
        return RaisingIndex(kind)
    if choice == 2:
        return RaisingInt(kind)
    if choice == 3:
        return WeirdIndex(draw(st.one_of(ints, st.sampled_from([None, 1.5, "1", True]))))
    if choice == 4:
        items = draw(st.lists(st.one_of(module_objects(), st.sampled_from(EDGE_INTS)), max_size=5))
        length = draw(
            st.one_of(st.none(), st.integers(0, 12), st.sampled_from([10**6, sys.maxsize, 2**62]))
        )
        broken = draw(st.one_of(st.none(), st.integers(0, 10)))
        return BadSequence(items, length, broken, kind)
    if choice == 5:
        cards = draw(st.lists(st.builds(lambda: make_card("Hearts", "Two")), max_size=10))
        return draw(st.sampled_from([Shrinking, Growing]))(cards)
    if choice == 6:
        return StrSub(draw(st.sampled_from(["seed", "state", "cards", "x"])))
    return draw(st.sampled_from([object(), type, len, NotImplemented, Ellipsis, sys]))


scalars = st.one_of(
    ints,
    st.none(),
    st.booleans(),
    st.floats(allow_nan=True, allow_infinity=True),
    st.text(max_size=6),
    st.sampled_from([b"\x00\xff", "\ud800", "\x00", 1j, frozenset({1}), {"seed": 1}]),
    module_objects(),
    hostile_objects(),
)

values = st.recursive(
    scalars,
    lambda inner: st.one_of(st.lists(inner, max_size=9), st.tuples(inner, inner)),
    max_leaves=6,
)

# Keyword names: real parameter names of some call, misspellings, odd text, a lone surrogate.
KEYWORDS = [
    "card",
    "c1",
    "c2",
    "cards",
    "id",
    "seed",
    "state",
    "suit",
    "value",
    "players",
    "playouts",
    "num_threads",
    "use_heuristics",
    "policy_variation",
    "deterministic_samples",
    "sed",
    "self",
    "",
    "\ud800",
    "\x00",
    "é",
]
keywords = st.dictionaries(
    st.one_of(st.sampled_from(KEYWORDS), st.text(max_size=4)), values, max_size=2
)
arguments = st.tuples(st.lists(values, max_size=6), keywords)


def _pool():
    solo, duo = first_state(1, seed=5), first_state(2, seed=6)
    result = vardelic.VardelicGame([players.RandomPlayer(seed=1)], seed=1).playout()
    return {"solo": solo, "duo": duo, "result": result}


POOL = _pool()
