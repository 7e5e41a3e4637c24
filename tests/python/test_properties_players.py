"""Property tests of Python players that misbehave after a random number of good turns: a failed
turn leaves the game exactly as it was, and a later playout with a good player completes."""

import gc
import random

import pytest
import vardelic
from conftest import actions, players
from hostile_values import RAISED, Boom, Halt, check_outcome, values
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

Game = vardelic.VardelicGame
SETTINGS = settings(
    max_examples=150,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.function_scoped_fixture],
)


class Pause(Exception):
    """Stops a playout at a chosen turn, so the test can dump the state there."""


class Controller:
    """Decides for every Python seat of one game: good moves (seeded), then at call `pause_at` a
    pause, at the next call the misdeed, and good moves again after it."""

    def __init__(self, seed, pause_at):
        self.rng = random.Random(seed)
        self.calls = 0
        self.pause_at = pause_at
        self.misdeed = play_legally
        self.game = None
        self.paused_seat = None
        self.shown = []  # (text, action texts) of the state at the pause and the calls after it

    def good(self, state):
        space = state.action_space()
        return space[self.rng.randrange(len(space))]

    def decide(self, seat, state):
        self.calls += 1
        if self.pause_at and self.pause_at <= self.calls <= self.pause_at + 2:
            self.shown.append((str(state), [str(a) for a in state.action_space()]))
        if self.calls == self.pause_at:
            self.paused_seat = seat
            raise Pause
        if self.pause_at and self.calls == self.pause_at + 1:
            return self.misdeed(self, seat, state)
        return self.good(state)


class Seat:
    def __init__(self, controller):
        self.controller = controller

    def play(self, state):
        return self.controller.decide(self, state)


# Misdeeds: each is called with the controller, the seat and the state, and answers the turn.


def answer_with(value):
    def misdeed(controller, seat, state):
        return value

    misdeed.label = "answers " + type(value).__name__
    return misdeed


def raise_(error):
    def misdeed(controller, seat, state):
        RAISED.append(error)
        raise error

    misdeed.label = "raises " + type(error).__name__
    return misdeed


def reenter(method, then):
    """Calls `method` of its own game; `then` is None to let the RuntimeError through."""

    def misdeed(controller, seat, state):
        with pytest.raises(RuntimeError) as caught:
            getattr(controller.game, method)()
        expected = "Already borrowed" if method == "playout" else "Already mutably borrowed"
        assert str(caught.value) == expected
        if then is None:
            raise caught.value
        return then(controller, seat, state)

    misdeed.label = f"calls {method}"
    return misdeed


def play_legally(controller, seat, state):
    return controller.good(state)


class NoPlay:
    """What a seat becomes when its class is swapped for one without "play"."""


def nested_game(controller, seat, state):
    inner = Game([players.RandomPlayer(seed=2), Seat(Controller(3, pause_at=0))], seed=5)
    assert int(inner.playout()) in (0, 1)
    gc.collect()
    return controller.good(state)


def borrow_native(controller, seat, state):
    """Asks the built-in players for this very state, then answers with the search's choice."""
    players.RandomPlayer(seed=1).play(state)
    return players.MCTSPlayer(2, 2, True).play(state=state)


ILLEGAL = [
    actions.ActionChangePlayer(7),
    actions.ActionDiscard([]),
    actions.ActionCombo([]),
    actions.ActionChangePlayer(2**64 - 1),
]
ERRORS = [
    Boom("x"),
    Halt("x"),
    KeyboardInterrupt(),
    SystemExit(3),
    GeneratorExit(),
    StopIteration(),
    MemoryError(),
    RecursionError(),
    KeyError("play"),
    vardelic.EngineError("fake"),
]

misdeeds = st.one_of(
    st.builds(answer_with, values),
    st.builds(answer_with, st.sampled_from(ILLEGAL)),
    st.builds(raise_, st.sampled_from(ERRORS)),
    st.builds(
        reenter,
        st.sampled_from(["playout", "print", "reward"]),
        st.sampled_from([None, play_legally, answer_with(None)]),
    ),
    st.tuples(st.just("unplayable"), st.sampled_from([None, 5, "play", Boom, NoPlay])),
    st.just(nested_game),
    st.just(borrow_native),
)

# One to four seats, at least one of them a Python seat.
seat_kinds = st.builds(
    lambda others, at: others[:at] + ["python"] + others[at:],
    st.lists(st.sampled_from(["python", "random", "search"]), max_size=3),
    st.integers(0, 3),
)


def dump(game, capfd):
    capfd.readouterr()
    game.print()
    captured = capfd.readouterr()
    assert captured.out == "" and captured.err.count("&self.state = PyState {") == 1
    return captured.err


def label(misdeed):
    if isinstance(misdeed, tuple):
        return f"play is {misdeed[1]!r}"
    return getattr(misdeed, "label", getattr(misdeed, "__name__", "?"))


@SETTINGS
@given(
    kinds=seat_kinds,
    seed=st.integers(0, 2**64 - 1),
    choices=st.integers(0, 2**32),
    pause_at=st.integers(1, 12),
    misdeed=misdeeds,
)
def test_failed_turn_changes_nothing(capfd, kinds, seed, choices, pause_at, misdeed):
    controller = Controller(choices, pause_at)
    seats = [
        Seat(controller)
        if kind == "python"
        else players.RandomPlayer(seed=seed % 1000 + i)
        if kind == "random"
        else players.MCTSPlayer(2, 1, False)
        for i, kind in enumerate(kinds)
    ]
    game = Game(seats, seed=seed)
    controller.game = game
    try:
        game.playout()
    except Pause:
        pass
    else:
        event("game ended before the misdeed")
        return
    before = dump(game, capfd)
    reward = game.reward()

    seat = controller.paused_seat
    if isinstance(misdeed, tuple):  # the seat has no usable "play" for one playout
        if misdeed[1] is NoPlay:
            seat.__class__ = NoPlay
        else:
            seat.play = misdeed[1]
    else:
        controller.misdeed = misdeed
    RAISED.clear()
    try:
        game.playout()
    except BaseException as error:  # noqa: B036
        event(f"{label(misdeed)}: {type(error).__name__}")
        if isinstance(misdeed, tuple):  # the lookup's or the call's own error, unchanged
            assert isinstance(error, (TypeError, AttributeError)), repr(error)
            seat.__class__ = Seat
            seat.__dict__.pop("play", None)
        else:
            check_outcome(error)
        assert dump(game, capfd) == before
        assert game.reward() == reward
        controller.misdeed = play_legally
        assert int(game.playout()) in (0, 1)
        # The failed call (if "play" was called at all) and the retry were shown the very
        # state that the paused call was shown.
        same = 2 if isinstance(misdeed, tuple) else 3
        assert controller.shown[:same] == controller.shown[:1] * same
    else:
        event(f"{label(misdeed)}: turn accepted")
        assert controller.shown[1] == controller.shown[0]
    assert 0 <= game.reward() <= 12
