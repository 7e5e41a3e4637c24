import pytest
from conftest import card, first_state, make_card, run_python

CardSuit, CardValue, Card = card.CardSuit, card.CardValue, card.Card

SUITS = ["Spades", "Hearts", "Diamonds", "Clubs", "None"]
VALUES = [
    "Jester",
    "Ace",
    "Two",
    "Three",
    "Four",
    "Five",
    "Six",
    "Seven",
    "Eight",
    "Nine",
    "Ten",
    "Jack",
    "Queen",
    "King",
]


@pytest.mark.parametrize(
    "cls, names", [(CardSuit, SUITS), (CardValue, VALUES)], ids=["suit", "value"]
)
def test_enumeration_members(cls, names):
    for number, name in enumerate(names):
        member = getattr(cls, name)
        assert type(member) is cls
        assert repr(member) == str(member) == f"{cls.__name__}.{name}"
        assert int(member) == number
        assert member == number and not (member != number)
        assert member == getattr(cls, name) and not (member != getattr(cls, name))
        other = getattr(cls, names[(number + 1) % len(names)])
        assert member != other and not (member == other)
        assert member != number + 1 and not (member == number + 1)


@pytest.mark.parametrize("member", [CardSuit.Hearts, CardValue.King])
def test_enumeration_comparison_refusals(member):
    with pytest.raises(TypeError, match="cannot be converted"):
        member == "Hearts"
    with pytest.raises(TypeError, match="cannot be converted"):
        member != 1.0
    with pytest.raises(TypeError):
        member < 3
    assert member != 2**80  # too large for any number, but still an int
    with pytest.raises(TypeError, match="unhashable"):
        {member}


def test_enumeration_lists():
    assert CardSuit.all() == [CardSuit.Spades, CardSuit.Hearts, CardSuit.Diamonds, CardSuit.Clubs]
    assert CardSuit.all() is not CardSuit.all()
    assert CardValue.numbers() == [getattr(CardValue, v) for v in VALUES[1:11]]
    assert CardValue.royals() == [CardValue.King, CardValue.Queen, CardValue.Jack]


@pytest.mark.parametrize(
    "suit, value, text",
    [
        ("Hearts", "Queen", "♥Q"),
        ("Clubs", "Ten", "♣10"),
        ("Spades", "Ace", "♠A"),
        ("None", "Jester", "Jester"),
        ("Spades", "Jester", "♠Jester"),
        ("None", "King", "K"),
        ("Diamonds", "Seven", "♦7"),
    ],
)
def test_card_text(suit, value, text):
    assert str(make_card(suit, value)) == text


def test_card_comparisons():
    a, b = make_card("Hearts", "Two"), make_card("Hearts", "Two")
    c = make_card("Diamonds", "Two")
    assert a == b and not (a != b)
    assert a != c and not (a == c)
    assert (a == 1) is False and (a != 1) is True
    for op in ("<", "<=", ">", ">="):
        with pytest.raises(TypeError, match="^Operation not supported$"):
            eval(f"a {op} c")
    with pytest.raises(TypeError, match="unhashable"):
        hash(a)


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((CardSuit.Hearts,), {}, "missing required argument 'value'"),
        (
            (1, CardValue.Two),
            {},
            "^argument 'suit': 'int' object cannot be converted to 'CardSuit'$",
        ),
        ((CardSuit.Hearts, CardSuit.Hearts), {}, "^argument 'value': 'CardSuit' object"),
        (
            (),
            {"suit": CardSuit.Hearts, "valu": CardValue.Two},
            "unexpected keyword argument 'valu'",
        ),
        ((CardSuit.Hearts, CardValue.Two, 3), {}, "at most 2 arguments"),
        ((CardSuit.Hearts,), {"suit": CardSuit.Hearts}, "given by name \\('suit'\\) and position"),
    ],
)
def test_card_constructor_errors(args, kwargs, message):
    with pytest.raises(TypeError, match=message):
        Card(*args, **kwargs)


def test_card_keywords():
    assert Card(value=CardValue.Ace, suit=CardSuit.Clubs) == make_card("Clubs", "Ace")


def test_enemy_text_and_player_id():
    state = first_state(1, seed=1)
    enemy = state.current_enemy()
    text = str(enemy)
    assert text.startswith("Enemy { card: ") and text.endswith(
        ", health: 20, attack: 10, jester_applied: false }"
    )
    player = state.has_turn()
    assert repr(player) == str(player) == "PlayerId(0)"
    assert int(player) == 0 and [10, 11][player] == 10


COLOUR_PROBE = """
    import vardelic
    c = vardelic.card
    print(repr(str(c.Card(c.CardSuit.Hearts, c.CardValue.Queen))))
"""


@pytest.mark.parametrize(
    "env, expected",
    [
        ({"CLICOLOR_FORCE": "1"}, "'\\x1b[31m♥\\x1b[0m\\x1b[30mQ\\x1b[0m'"),
        ({"CLICOLOR_FORCE": "1", "NO_COLOR": "1"}, "'\\x1b[31m♥\\x1b[0m\\x1b[30mQ\\x1b[0m'"),
        ({"NO_COLOR": "1"}, "'♥Q'"),
        ({"CLICOLOR_FORCE": "0", "NO_COLOR": ""}, "'♥Q'"),
        ({}, "'♥Q'"),  # standard output is a pipe, not a terminal
    ],
)
def test_colours_follow_the_environment(env, expected):
    done = run_python(COLOUR_PROBE, env_extra=env)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == expected
