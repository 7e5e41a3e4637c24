import re

import pytest
import vardelic
from conftest import actions, first_state, make_card

A = actions
H2, D3, S3, CA = (
    make_card("Hearts", "Two"),
    make_card("Diamonds", "Three"),
    make_card("Spades", "Three"),
    make_card("Clubs", "Ace"),
)


def refill_class():
    state = first_state(1, seed=1)
    return type(state.action_space()[-1])


@pytest.mark.parametrize(
    "make, text",
    [
        (lambda: A.ActionPlay(H2), "Play(♥2)"),
        (lambda: A.ActionPlay(card=H2), "Play(♥2)"),
        (lambda: A.ActionAnimalCombo(CA, H2), "AnimalCombo(♣A, ♥2)"),
        (lambda: A.ActionAnimalCombo(c2=H2, c1=CA), "AnimalCombo(♣A, ♥2)"),
        (lambda: A.ActionCombo([S3, D3]), "Combo([♠3, ♦3])"),
        (lambda: A.ActionCombo((D3,)), "Combo([♦3])"),
        (lambda: A.ActionYield(), "Yield"),
        (lambda: A.ActionYield(1, "x", key=None), "Yield"),
        (lambda: A.ActionDiscard([]), "Discard([])"),
        (lambda: A.ActionDiscard(cards=[H2] * 8), "Discard([" + ", ".join(["♥2"] * 8) + "])"),
        (lambda: A.ActionChangePlayer(2), "ChangePlayer(PlayerId(2))"),
        (lambda: A.ActionChangePlayer(id=7), "ChangePlayer(PlayerId(7))"),
        (lambda: refill_class()("ignored"), "RefillHand"),
    ],
)
def test_constructors_and_texts(make, text):
    action = make()
    assert str(action) == repr(action) == text
    assert make() == action and not (make() != action)
    assert make() is not action


def test_equality_is_by_class_and_contents():
    assert A.ActionCombo([S3, D3]) != A.ActionCombo([D3, S3])
    assert A.ActionAnimalCombo(CA, H2) != A.ActionAnimalCombo(H2, CA)
    assert A.ActionPlay(H2) != A.ActionPlay(D3)
    assert A.ActionDiscard([H2]) != A.ActionDiscard([H2, H2])
    assert A.ActionChangePlayer(1) != A.ActionChangePlayer(2)
    refill = refill_class()()
    assert refill == refill_class()() and A.ActionYield() != refill
    assert (A.ActionYield() == 3) is False and (A.ActionPlay(H2) == H2) is False
    # Another class falls back to identity, even with the same cards.
    assert A.ActionCombo([H2]) != A.ActionDiscard([H2])


@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_ordering_is_refused(op):
    a, b = A.ActionPlay(H2), A.ActionPlay(D3)  # noqa: F841  (read by the eval below)
    with pytest.raises(TypeError, match="^Operation not supported$"):
        eval(f"a {op} b")
    with pytest.raises(TypeError, match="not supported between"):
        eval(f"a {op} A.ActionYield()")


def test_actions_are_unhashable():
    for action in (A.ActionPlay(H2), A.ActionYield(), A.ActionChangePlayer(0)):
        with pytest.raises(TypeError, match="unhashable"):
            {action}


@pytest.mark.parametrize(
    "make, error, message",
    [
        (
            lambda: A.ActionPlay(3),
            TypeError,
            "^argument 'card': 'int' object cannot be converted to 'Card'$",
        ),
        (lambda: A.ActionPlay(), TypeError, "missing required argument 'card'"),
        (lambda: A.ActionAnimalCombo(CA, None), TypeError, "^argument 'c2': 'NoneType' object"),
        (
            lambda: A.ActionCombo(5),
            TypeError,
            "^argument 'cards': 'int' object cannot be converted",
        ),
        (
            lambda: A.ActionCombo([H2, "x"]),
            TypeError,
            "^argument 'cards': 'str' object cannot be converted to 'Card'$",
        ),
        (lambda: A.ActionCombo({0: H2}), TypeError, "^argument 'cards': 'dict' object"),
        (
            lambda: A.ActionCombo([H2] * 5),
            ValueError,
            "^argument 'cards': ActionCombo holds at most 4 cards, got 5$",
        ),
        (lambda: A.ActionDiscard([H2] * 9), ValueError, "at most 8 cards, got 9"),
        (
            lambda: A.ActionDiscard(cards=[H2], extra=1),
            TypeError,
            "unexpected keyword argument 'extra'",
        ),
        (lambda: A.ActionChangePlayer(-1), OverflowError, "negative"),
        (lambda: A.ActionChangePlayer(2**64), OverflowError, "too big"),
        (
            lambda: A.ActionChangePlayer("1"),
            TypeError,
            "^argument 'id': 'str' object cannot be interpreted",
        ),
        (lambda: A.ActionChangePlayer(1.0), TypeError, "^argument 'id': "),
    ],
)
def test_constructor_errors(make, error, message):
    with pytest.raises(error, match=message):
        make()


class Sized:
    """A sequence whose items fail: its length is refused before any item is read."""

    def __len__(self):
        return 100

    def __getitem__(self, index):
        raise AssertionError("no item may be read")


def test_long_sequence_is_refused_before_reading():
    with pytest.raises(ValueError, match="at most 4"):
        A.ActionCombo(Sized())


def test_legal_actions_convert_back_equal():
    state = first_state(2, seed=5)
    hand = state.current_hand()
    space = state.action_space()
    for c in hand:
        assert A.ActionPlay(c) in space
    assert space[-1] == A.ActionYield()
    assert state.action_space() == space and state.action_space()[0] is not space[0]


def test_conversion_error_names_every_variant():
    class Answer:
        def play(self, state):
            return 42

    variants = [
        "PyActionPlay",
        "PyActionAnimalCombo",
        "PyActionCombo",
        "PyActionYield",
        "PyActionDiscard",
        "PyActionChangePlayer",
        "PyActionRefillHand",
    ]
    expected = (
        "failed to extract enum PyAction ('"
        + " | ".join(variants)
        + "')"
        + "".join(
            f"\n- variant {v} ({v}): 'int' object cannot be converted to '{v[2:]}'"
            for v in variants
        )
    )
    with pytest.raises(TypeError) as raised:
        vardelic.VardelicGame([Answer()], 1).playout()
    assert str(raised.value) == expected
    assert re.search("cannot be converted to 'ActionRefillHand'", expected)
