import re

import pytest
import vardelic
from conftest import Recorder, actions, first_state, players

Game = vardelic.VardelicGame
RandomPlayer = players.RandomPlayer


def dump(game, capfd):
    capfd.readouterr()
    game.print()
    captured = capfd.readouterr()
    assert captured.out == ""
    return captured.err


class Logged:
    """A Python seat that asks a RandomPlayer and logs the answers."""

    def __init__(self, seed, log):
        self.player, self.log = RandomPlayer(seed=seed), log

    def play(self, state):
        action = self.player.play(state)
        self.log.append((int(state.has_turn()), str(action)))
        return action


class Once:
    """Does `first` on its first call, then plays the first legal action."""

    def __init__(self, first):
        self.first, self.calls = first, 0

    def play(self, state):
        self.calls += 1
        if self.calls == 1:
            return self.first(state)
        return state.action_space()[0]


# Construction --------------------------------------------------------------------------------


@pytest.mark.parametrize("count", [0, 5])
@pytest.mark.parametrize("seed", [None, 3])
def test_player_count_is_checked(count, seed):
    with pytest.raises(ValueError, match="^Only 1-4 players are allowed$"):
        Game([RandomPlayer(seed=1)] * count, seed)


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        (([object()],), {"seed": -1}, OverflowError, "negative"),
        (([object()],), {"seed": 2**64}, OverflowError, "too big"),
        (([object()],), {"seed": "7"}, TypeError, "^argument 'seed': "),
        ((3,), {}, TypeError, "^argument 'players': 'int' object cannot be converted"),
        ((), {}, TypeError, "missing required argument 'players'"),
        (([object()], 1, 2), {}, TypeError, "at most 2 arguments"),
        (([object()],), {"sed": 1}, TypeError, "unexpected keyword argument 'sed'"),
        (([],), {"seed": "7"}, TypeError, "^argument 'seed': "),  # players converted first
    ],
)
def test_constructor_errors(args, kwargs, error, message):
    with pytest.raises(error, match=message):
        Game(*args, **kwargs)


def test_any_sequence_and_any_object_is_accepted():
    Game((RandomPlayer(seed=1), object()), seed=2**64 - 1)
    Game(players=[object()], seed=None)


@pytest.mark.parametrize("method", ["playout", "print", "reward"])
def test_methods_take_no_arguments(method):
    game = Game([RandomPlayer(seed=1)], 1)
    with pytest.raises(TypeError, match="takes no arguments"):
        getattr(game, method)(1)
    with pytest.raises(TypeError, match="takes no arguments"):
        getattr(game, method)(x=1)


# Results -------------------------------------------------------------------------------------


def test_game_result():
    result = Game([RandomPlayer(seed=1)], 1).playout()
    Result = type(result)
    assert int(result) in (0, 1)
    assert repr(result) == str(result) == ("PyGameResult.Won", "PyGameResult.Lost")[int(result)]
    assert result is not Result.Won and result is not Result.Lost
    member = (Result.Won, Result.Lost)[int(result)]
    assert result == member and not (result != member)
    assert result == int(result) and result != 1 - int(result) and not (result == 7)
    assert Result.Won == 0 and Result.Lost == 1 and Result.Won != Result.Lost
    with pytest.raises(TypeError, match="cannot be converted to 'GameResult'"):
        result == "Won"
    with pytest.raises(TypeError, match="unhashable"):
        hash(result)


# The main loop -------------------------------------------------------------------------------


@pytest.mark.parametrize("count", [1, 2, 3, 4])
def test_each_seat_plays_its_own_turns(count):
    class Seat(Recorder):
        pass

    seats = [Seat() for _ in range(count)]
    result = Game(seats, seed=11).playout()
    assert int(result) in (0, 1)
    assert int(seats[0].states[0].has_turn()) == 0
    for index, seat in enumerate(seats):
        assert all(int(s.has_turn()) == index for s in seat.states)
    assert sum(len(s.states) for s in seats) > 1


@pytest.mark.parametrize("count", [1, 2, 3, 4])
def test_seeded_games_are_reproducible(count, capfd):
    def run(log):
        game = Game([Logged(100 + i, log) for i in range(count)], seed=42)
        return int(game.playout()), game.reward(), dump(game, capfd)

    first, second = [], []
    assert run(first) == run(second)
    assert first == second and len(first) > 1

    def native():
        game = Game([RandomPlayer(seed=100 + i) for i in range(count)], seed=42)
        return int(game.playout()), game.reward(), dump(game, capfd)

    assert native() == native() == run([])  # built-in seats decide exactly as their Python calls


def test_unseeded_games_differ(capfd):
    dumps = {dump(Game([RandomPlayer(seed=1)]), capfd) for _ in range(3)}
    assert len(dumps) == 3


def test_one_random_player_object_gives_independent_copies(capfd):
    shared = RandomPlayer(seed=9)
    game = Game([shared, shared], seed=4)
    game.playout()
    twin = Game([RandomPlayer(seed=9), RandomPlayer(seed=9)], seed=4)
    twin.playout()
    assert dump(game, capfd) == dump(twin, capfd)
    # The Python object was only copied: it still answers like a fresh player.
    state = first_state(1, seed=1)
    assert str(shared.play(state)) == str(RandomPlayer(seed=9).play(state))


def test_a_state_is_a_private_copy():
    seat = Recorder()
    Game([seat], seed=8).playout()
    first = seat.states[0]
    again = Recorder()
    Game([again], seed=8).playout()
    assert str(first) == str(again.states[0])
    assert [str(a) for a in first.action_space()] == [
        str(a) for a in again.states[0].action_space()
    ]
    hand = first.current_hand()
    assert str(first).split("\n")[1] == "Hand:   [" + ", ".join(map(str, hand)) + "]"
    assert str(first).split("\n")[0] == "Player: PlayerId(0)"
    assert first.reward() == 0 and first.current_enemy() is not None


def test_reward_and_a_second_playout_after_the_end():
    seat = Recorder()
    game = Game([seat], seed=13)
    result = game.playout()
    last = seat.states[-1]
    if int(result) == 1:
        assert game.reward() == last.reward()
    else:
        assert game.reward() == 12
    calls = len(seat.states)
    assert int(game.playout()) == int(result)
    # The second run starts from the state before the final action, with the same seat.
    assert str(seat.states[calls]) == str(last)
    assert len(seat.states) == calls + 1


# Failed turns --------------------------------------------------------------------------------


class NoPlay:
    pass


class Boom(Exception):
    pass


def raise_boom(state):
    raise Boom("from the player")


FAILURES = [
    ("none", lambda s: None, TypeError, "^failed to extract enum PyAction"),
    ("int", lambda s: 3, TypeError, "^failed to extract enum PyAction"),
    ("card", lambda s: s.current_hand()[0], TypeError, "'Card' object cannot be converted"),
    ("raises", raise_boom, Boom, "^from the player$"),
    ("change player", lambda s: actions.ActionChangePlayer(0), KeyError, "is not a legal action"),
    (
        "empty discard",
        lambda s: actions.ActionDiscard([]),
        KeyError,
        "^\"'Discard\\(\\[\\]\\)' is not",
    ),
    ("one-card combo", lambda s: actions.ActionCombo(s.current_hand()[:1]), KeyError, "Combo"),
]


@pytest.mark.parametrize(
    "answer, error, message", [f[1:] for f in FAILURES], ids=[f[0] for f in FAILURES]
)
def test_failed_turn_leaves_the_state_unchanged(answer, error, message, capfd):
    seat = Once(answer)
    game = Game([seat, RandomPlayer(seed=1)], seed=21)
    before = dump(game, capfd)
    with pytest.raises(error, match=message):
        game.playout()
    assert dump(game, capfd) == before
    # Asked again, for the same state, the seat now plays on.
    assert int(game.playout()) in (0, 1)
    assert seat.calls > 1


def test_missing_play_attribute(capfd):
    game = Game([NoPlay()], seed=2)
    before = dump(game, capfd)
    with pytest.raises(AttributeError, match="play"):
        game.playout()
    assert dump(game, capfd) == before


def test_illegal_action_message_lists_the_legal_actions():
    seen = []

    def answer(state):
        seen.append(state)
        return actions.ActionChangePlayer(1)

    with pytest.raises(KeyError) as raised:
        Game([Once(answer), RandomPlayer(seed=1)], seed=3).playout()
    legal = ", ".join(str(a) for a in seen[0].action_space())
    assert raised.value.args == (
        f"'ChangePlayer(PlayerId(1))' is not a legal action. Legal actions are: [{legal}]",
    )


def test_discard_order_matters():
    """Find a forced discard with two or more cards and answer it reversed."""
    for seed in range(200):
        checked = []

        def choose(space, checked=checked):
            for action in space:
                text = str(action)
                if text.startswith("Discard([") and text.count(",") >= 1:
                    checked.append(action)
                    return "reverse"
            return space[0]

        class Seat:
            def play(self, state):
                choice = choose(state.action_space())
                if choice != "reverse":
                    return choice
                cards = re.findall(r"[♠♥♦♣]?(?:10|[A2-9JQK]|Jester)", str(checked[0])[8:])  # noqa: B023  (played within this iteration)
                hand = {str(c): c for c in state.current_hand()}
                return actions.ActionDiscard([hand[t] for t in reversed(cards)])

        try:
            Game([Seat()], seed=seed).playout()
        except KeyError as error:
            assert "is not a legal action" in str(error)
            assert str(checked[0]) in str(error)
            return
    pytest.skip("no seed up to 200 reached a discard of several cards")


# Re-entrant use ------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "method, message",
    [
        ("reward", "Already mutably borrowed"),
        ("print", "Already mutably borrowed"),
        ("playout", "Already borrowed"),
    ],
)
def test_calling_back_into_the_running_game(method, message, capfd):
    class Reentrant:
        game = None
        caught = None

        def play(self, state):
            if self.caught is None:
                try:
                    getattr(self.game, method)()
                except RuntimeError as error:
                    self.caught = error
                return state.action_space()[0]
            getattr(self.game, method)()  # uncaught: ends the playout

    seat = Reentrant()
    game = Game([seat], seed=5)
    seat.game = game
    before = dump(game, capfd)
    with pytest.raises(RuntimeError, match=f"^{message}$"):
        game.playout()
    assert str(seat.caught) == message
    after = dump(game, capfd)
    assert after != before  # the first turn went through, the failed second one did not
    assert game.reward() >= 0  # usable again once the playout has ended


# The debugging dump --------------------------------------------------------------------------


@pytest.mark.parametrize("count", [1, 4])
def test_print_writes_the_multi_line_dump(count, capfd):
    game = Game([RandomPlayer(seed=1)] * count, seed=6)
    text = dump(game, capfd)
    lines = text.split("\n")
    assert re.fullmatch(r"\[game_type\.cc:\d+\] &self\.state = PyState \{", lines[0])
    assert lines[1:4] == [
        f"    state_enum: Players{count}(",
        "        State {",
        "            table: Table {",
    ]
    assert lines[-4:] == ["        },", "    ),", "}", ""]
    # Everything nested is one item per line: no single-line separators anywhere.
    assert all(", " not in line for line in lines)
    assert "                castle_deck: [" in lines
    assert "                    Enemy {" in lines
    assert "                attack_cards: []," in lines
    for line in lines[1:-2]:
        stripped = line.rstrip()
        assert stripped.endswith(("{", "[", "(", ",")), line
        assert (len(line) - len(line.lstrip(" "))) % 4 == 0
    assert dump(game, capfd) == text
