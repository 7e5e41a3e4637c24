"""Property tests of the Python surface: every constructor, method and operator of every class,
called with arbitrary and hostile values, raises only documented exceptions (or the one a user
object raised, unchanged) and leaves every object involved usable."""

import copy
import operator
import pickle
import sys
import weakref

import pytest
import vardelic
from conftest import actions, card, players
from hostile_values import (
    POOL,
    RAISED,
    BadSequence,
    Growing,
    Shrinking,
    arguments,
    check_outcome,
    hostile_objects,
    ints,
    module_objects,
    values,
)
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

# Bounded for speed: the whole set runs in seconds, and again under AddressSanitizer.
FAST = settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
PER_TARGET = settings(FAST, max_examples=30)
Game = vardelic.VardelicGame


def exercise(obj, seen=None):
    """Uses `obj` (and every module object inside it) the normal way; all of it must work."""
    seen = set() if seen is None else seen
    if id(obj) in seen:
        return
    seen.add(id(obj))
    solo = POOL["solo"]
    if isinstance(obj, (list, tuple, frozenset, Shrinking, Growing)):
        for item in list.copy(obj) if isinstance(obj, list) else obj:
            exercise(item, seen)
    elif isinstance(obj, dict):
        for item in obj.values():
            exercise(item, seen)
    elif isinstance(obj, BadSequence):
        for item in obj.items:
            exercise(item, seen)
    elif isinstance(obj, (card.CardSuit, card.CardValue)):
        assert obj == int(obj) and repr(obj).startswith(type(obj).__name__ + ".")
    elif isinstance(obj, card.Card):
        assert obj == obj and not (obj != obj) and str(obj)
    elif type(obj).__name__.startswith("Action"):
        assert obj == obj and str(obj) == repr(obj)
    elif type(obj).__name__ == "PyState":
        space = obj.action_space()
        assert space and str(obj) and obj.current_hand() is not None
        assert int(obj.has_turn()) >= 0 and obj.reward() >= 0
        str(obj.current_enemy())
    elif type(obj).__name__ == "PlayerId":
        assert obj == obj and repr(obj) == f"PlayerId({int(obj)})"
    elif type(obj).__name__ == "Enemy":
        assert str(obj).startswith("Enemy { card: ")
    elif type(obj).__name__ == "GameResult":
        assert obj == int(obj) and repr(obj) in ("PyGameResult.Won", "PyGameResult.Lost")
    elif isinstance(obj, players.RandomPlayer):
        assert obj.play(solo) in solo.action_space()
    elif isinstance(obj, players.MCTSPlayer):
        obj.ranked_actions()  # its settings may be huge: no search here
    elif isinstance(obj, Game):
        assert 0 <= obj.reward() <= 12


def call(function, args, kwargs):
    """Calls and returns the result, or None once a permitted exception was raised."""
    RAISED.clear()
    try:
        return function(*args, **kwargs)
    except BaseException as error:  # noqa: B036 - BaseException subclasses must pass through too
        check_outcome(error)
        return None


# Every callable of the module, made fresh for each example where it holds state.
def _targets():
    solo_state = lambda: POOL["solo"]  # noqa: E731 - a PyState is a private copy, never changed
    # ActionRefillHand is registered nowhere: its class comes from a solo game's legal actions.
    refill = type(next(a for a in POOL["solo"].action_space() if str(a) == "RefillHand"))
    table = {
        "Card": lambda: card.Card,
        "CardSuit": lambda: card.CardSuit,
        "CardValue": lambda: card.CardValue,
        "CardSuit.all": lambda: card.CardSuit.all,
        "CardValue.numbers": lambda: card.CardValue.numbers,
        "CardValue.royals": lambda: card.CardValue.royals,
        "RandomPlayer": lambda: players.RandomPlayer,
        "RandomPlayer.play": lambda: players.RandomPlayer(seed=9).play,
        "InputPlayer": lambda: players.InputPlayer,
        "MCTSPlayer": lambda: players.MCTSPlayer,
        "MCTSPlayer.play": lambda: players.MCTSPlayer(3, 2, True).play,
        "MCTSPlayer.ranked_actions": lambda: players.MCTSPlayer(3, 1, False).ranked_actions,
        "VardelicGame": lambda: Game,
        "VardelicGame.playout": lambda: Game([players.RandomPlayer(seed=4)], seed=4).playout,
        "VardelicGame.reward": lambda: Game([players.RandomPlayer(seed=4)], seed=4).reward,
        "VardelicGame.print": lambda: Game([players.RandomPlayer(seed=4)], seed=4).print,
        "PyState": lambda: type(solo_state()),
        "GameResult": lambda: type(POOL["result"]),
        "Enemy": lambda: type(solo_state().current_enemy()),
        "PlayerId": lambda: type(solo_state().has_turn()),
        "EngineError": lambda: vardelic.EngineError,
    }
    for method in ("action_space", "has_turn", "current_hand", "reward", "current_enemy"):
        table["PyState." + method] = lambda m=method: getattr(solo_state(), m)
    for name in vardelic.actions.__all__:
        table[name] = lambda n=name: getattr(actions, n)
    table["ActionRefillHand"] = lambda: refill
    return table


TARGETS = _targets()


def test_every_public_class_is_a_target():
    names = set(card.__all__) | set(actions.__all__) | set(players.__all__) | {"VardelicGame"}
    assert names <= set(TARGETS) and "ActionRefillHand" in TARGETS


@pytest.mark.parametrize("name", sorted(TARGETS))
@PER_TARGET
@given(args=arguments)
def test_any_arguments(name, args):
    function = TARGETS[name]()
    positional, keywords = args
    result = call(function, positional, keywords)
    exercise(result)
    exercise(getattr(function, "__self__", None))
    exercise(positional)
    exercise(keywords)


OPERATORS = [operator.eq, operator.ne, operator.lt, operator.le, operator.gt, operator.ge]


@FAST
@given(obj=module_objects(), other=values, op=st.sampled_from(OPERATORS), swap=st.booleans())
def test_any_comparison(obj, other, op, swap):
    left, right = (other, obj) if swap else (obj, other)
    result = call(op, (left, right), {})
    assert result is None or isinstance(result, bool)  # None: a permitted exception
    exercise(obj)
    exercise(other)


# Protocols the classes do not implement, and ways around their constructors.
CONVERSIONS = [
    int,
    float,
    str,
    repr,
    hash,
    bool,
    operator.index,
    len,
    iter,
    abs,
    operator.neg,
    lambda x: x + 1,
    lambda x: x[0],
    lambda x: x.nonexistent,
    lambda x: setattr(x, "a", 1),
    lambda x: delattr(x, "play"),
    copy.copy,
    copy.deepcopy,
    pickle.dumps,
    weakref.ref,
    vars,
    dir,
    lambda x: type("Sub", (type(x),), {}),
    lambda x: object.__new__(type(x)),
    lambda x: type(x).__new__(type(x)),
    lambda x: type(x).__new__(card.Card),
    lambda x: setattr(x, "__class__", card.Card),
    lambda x: type(x).__module__ == "builtins" and setattr(type(x), "play", None),
]


@pytest.mark.filterwarnings("ignore:NotImplemented should not be used in a boolean context")
@FAST
@given(obj=st.one_of(module_objects(), hostile_objects()), conversion=st.sampled_from(CONVERSIONS))
def test_any_conversion(obj, conversion):
    RAISED.clear()
    try:
        conversion(obj)
    except (AttributeError, IndexError, NotImplementedError, pickle.PicklingError) as error:
        # pickle finds a class by its module and name; the fixed classes live in no importable
        # module, so pickling one is the interpreter's refusal, not the engine's
        assert "vardelic" not in type(error).__module__
    except BaseException as error:  # noqa: B036
        check_outcome(error)
    exercise(obj)


# Semantic properties over the whole integer range ----------------------------------------------

U64 = 2**64


@FAST
@given(number=ints)
def test_change_player_takes_exactly_the_machine_word_range(number):
    if 0 <= number < U64:
        action = actions.ActionChangePlayer(number)
        assert str(action) == f"ChangePlayer(PlayerId({number}))"
        assert action == actions.ActionChangePlayer(id=number)
    else:
        with pytest.raises(OverflowError):
            actions.ActionChangePlayer(number)


@FAST
@given(number=ints)
def test_seeds_take_exactly_the_64_bit_range(number):
    state = POOL["solo"]
    if 0 <= number < U64:
        a, b = players.RandomPlayer(seed=number), players.RandomPlayer(number)
        assert str(a.play(state)) == str(b.play(state))
        assert a.play(state) in state.action_space()
        assert 0 <= Game([a], seed=number).reward() <= 12
    else:
        for make in (lambda: players.RandomPlayer(number), lambda: Game([object()], number)):
            with pytest.raises(OverflowError):
                make()


@FAST
@given(
    number=ints,
    member=st.sampled_from(
        card.CardSuit.all() + card.CardValue.numbers() + card.CardValue.royals() + [POOL["result"]]
    ),
)
def test_members_equal_exactly_their_number(number, member):
    assert (member == number) == (number == int(member))
    assert (number == member) == (member == number)


@FAST
@given(
    count=st.integers(0, 12),
    sequence_type=st.sampled_from([list, tuple, Shrinking, Growing]),
    kind=st.sampled_from(["ActionCombo", "ActionDiscard"]),
)
def test_card_lists_are_bounded(count, sequence_type, kind):
    suits = card.CardSuit.all()
    cards = [card.Card(suits[i % 4], card.CardValue.numbers()[i % 10]) for i in range(count)]
    capacity = 4 if kind == "ActionCombo" else 8
    cls = getattr(actions, kind)
    texts = [str(c) for c in cards]
    sequence = sequence_type(cards)
    RAISED.clear()
    if count > capacity:
        with pytest.raises(ValueError, match=f"at most {capacity} cards"):
            cls(sequence)
        return
    try:
        action = cls(cards=sequence)
    except IndexError:
        assert sequence_type is Shrinking and count > 1  # it shrank under the reader
        return
    prefix = kind.removeprefix("Action")
    if sequence_type is Growing:
        texts = texts[:count]  # only the length read first counts
    assert str(action) == f"{prefix}([{', '.join(texts)}])"
    assert action == cls(list(cards[:count]))


@FAST
@given(
    playouts=st.integers(0, 4),
    threads=st.integers(0, 3),
    heuristics=st.booleans(),
    policy=st.one_of(st.none(), st.integers(0, 255)),
    samples=st.one_of(st.none(), st.integers(0, 2)),
    state=st.sampled_from(["solo", "duo"]),
)
def test_search_player_decides_or_fails_cleanly(
    playouts, threads, heuristics, policy, samples, state
):
    state = POOL[state]
    player = players.MCTSPlayer(playouts, threads, heuristics, policy, samples)
    before = [(str(a), v) for a, v, _ in player.ranked_actions()]
    try:
        action = player.play(state)
    except vardelic.EngineError as error:
        expected = {
            "No actions available to choose from",
            "assertion failed: num_threads != 0",
            f"Could not determine policy from number '{policy}'",
        }
        assert str(error) in expected
        assert [(str(a), v) for a, v, _ in player.ranked_actions()] == before
        if policy in (None, 0, 2, 3, 4):
            assert samples == 0 or (threads == 0 and playouts > 0)
    else:
        assert policy in (None, 0, 2, 3, 4)
        assert action in state.action_space()
        assert player.ranked_actions()[0][0] == action
    exercise(player)
    exercise(state)


# Regressions found by the properties above ------------------------------------------------------


@pytest.mark.parametrize("length", [0, 5, 10**6, 2**62, sys.maxsize])
def test_game_refuses_a_claimed_length_without_reading_it(length):
    read = []

    class Claim:
        def __len__(self):
            return length

        def __getitem__(self, index):
            read.append(index)
            return players.RandomPlayer(seed=1)

    with pytest.raises(ValueError, match="^Only 1-4 players are allowed$"):
        Game(Claim(), seed=3)
    assert read == []
    with pytest.raises(OverflowError):  # the seed is still converted first
        Game(Claim(), seed=-1)


@pytest.mark.parametrize(
    "call",
    [
        lambda: card.Card(**{"\ud800": 1}),
        lambda: Game([object()], **{"x\udfff": 1}),
        lambda: players.RandomPlayer(seed=1).play(**{"\ud800": POOL["solo"]}),
        lambda: actions.ActionCombo(cards=[], **{"\udc80": 1}),
    ],
)
def test_unknown_keyword_holding_a_lone_surrogate(call):
    with pytest.raises(TypeError, match="got an unexpected keyword argument '.*[\ud800-\udfff]'"):
        call()


def test_conversion_message_holding_a_lone_surrogate():
    class Odd(TypeError):
        def __str__(self):
            return "odd \ud800"

    class Index:
        def __index__(self):
            raise Odd

    with pytest.raises(TypeError) as caught:
        actions.ActionChangePlayer(Index())
    assert type(caught.value) is TypeError and str(caught.value) == "argument 'id': odd \ud800"

    class Unprintable(TypeError):
        def __str__(self):
            raise LookupError("no text")

    class Index2:
        def __index__(self):
            raise Unprintable

    with pytest.raises(LookupError, match="no text"):
        players.MCTSPlayer(Index2(), 1, False)
