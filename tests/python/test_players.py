import re

import pytest
import vardelic
from conftest import first_state, players, run_python

RandomPlayer, InputPlayer = players.RandomPlayer, players.InputPlayer


def states(count=40):
    """A few dozen states from seeded games of every size."""
    found = []

    class Keep:
        def play(self, state):
            found.append(state)
            return state.action_space()[-1]

    for n in (1, 2, 3, 4):
        seed = 0
        while len(found) < count * n // 4:
            vardelic.VardelicGame([Keep() for _ in range(n)], seed=seed).playout()
            seed += 1
    return found


def test_same_seed_same_choices():
    shown = states()
    a, b, c = RandomPlayer(seed=5), RandomPlayer(5), RandomPlayer(seed=6)
    first = [str(a.play(s)) for s in shown]
    assert first == [str(b.play(state=s)) for s in shown]
    assert first != [str(c.play(s)) for s in shown]
    assert first != [str(RandomPlayer().play(s)) for s in shown]
    legal = [[str(x) for x in s.action_space()] for s in shown]
    assert all(choice in options for choice, options in zip(first, legal, strict=True))


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: RandomPlayer(seed=-1), OverflowError, "negative"),
        (lambda: RandomPlayer(seed="1"), TypeError, "^argument 'seed': "),
        (lambda: RandomPlayer(1, 2), TypeError, "at most 1 argument "),
        (
            lambda: RandomPlayer(1).play(3),
            TypeError,
            "^argument 'state': 'int' object cannot be converted to 'PyState'$",
        ),
        (lambda: RandomPlayer(1).play(), TypeError, "missing required argument 'state'"),
        (lambda: RandomPlayer(1).play(stat=None), TypeError, "unexpected keyword argument"),
        (lambda: InputPlayer(1), TypeError, "takes no arguments"),
        (lambda: InputPlayer(x=1), TypeError, "takes no arguments"),
    ],
)
def test_argument_errors(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_input_player_has_no_python_play():
    assert not hasattr(InputPlayer(), "play")


# The terminal dialogue -------------------------------------------------------------------------

GAME = """
    import vardelic
    game = vardelic.VardelicGame([vardelic.players.InputPlayer()], seed=1)
    before = game.reward()
    try:
        game.playout()
    except vardelic.EngineError as error:
        print("ENGINE:", error, flush=True)
"""


def block(state):
    """The dialogue's listing for `state`, as the terminal shows it with colours off."""
    enemy = re.fullmatch(r"Enemy \{ (.*) \}", str(state.current_enemy())).group(1).split(", ")
    lines = [
        "=" * 60,
        "Current player: " + repr(state.has_turn()),
        "Current enemy: ",
        "",
        "Some(",
        "    Enemy {",
    ]
    lines += ["        " + field + "," for field in enemy]
    lines += ["    },", ")", "", "Available actions are: ", " "]
    space = state.action_space()
    lines += [f"{i}: {a}" for i, a in enumerate(space)]
    lines[-1] += " "
    lines += ["", "Type number to select an action:"]
    return "\n".join(lines) + "\n"


def second_state(choice):
    found = []

    class Seat:
        def play(self, state):
            found.append(state)
            if len(found) == 1:
                return state.action_space()[choice]
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        vardelic.VardelicGame([Seat()], seed=1).playout()
    return found[1]


def test_dialogue_rejects_bad_answers_then_fails_at_end_of_input():
    answers = ["abc", "2.0", "-1", "", "18446744073709551616", "4 2", "99"]
    done = run_python(GAME, stdin="".join(a + "\n" for a in answers), env_extra={"NO_COLOR": "1"})
    assert done.returncode == 0, done.stderr
    expected = block(first_state(1, seed=1))
    for answer in answers[:-1]:
        expected += f'Failed to parse input "{answer}\\n". Please try again!\n'
    expected += "Could not match input with any action. Please try again!\n"
    expected += "ENGINE: Error reading input.\n"
    assert done.stdout == expected


@pytest.mark.parametrize("answer", [" 2 ", "+2", "2", "\t02\r"])
def test_dialogue_accepts_a_number(answer):
    done = run_python(GAME, stdin=answer + "\n", env_extra={"NO_COLOR": "1"})
    assert done.returncode == 0, done.stderr
    first, second = block(first_state(1, seed=1)), block(second_state(2))
    assert done.stdout == first + second + "ENGINE: Error reading input.\n"


def test_end_of_input_without_a_line():
    done = run_python(
        GAME + "    print(game.reward() == before)\n", stdin="", env_extra={"NO_COLOR": "1"}
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout.endswith("ENGINE: Error reading input.\nTrue\n")
