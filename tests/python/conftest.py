import os
import subprocess
import sys
import textwrap

# Colours are decided once per process, on the first coloured text: switch them off before
# the module prints anything. Colour tests run in subprocesses with their own environment.
os.environ.pop("CLICOLOR_FORCE", None)
os.environ["NO_COLOR"] = "1"

import pytest  # noqa: E402
import vardelic  # noqa: E402

card = vardelic.card
actions = vardelic.actions
players = vardelic.players


def make_card(suit, value):
    return card.Card(getattr(card.CardSuit, suit), getattr(card.CardValue, value))


class Recorder:
    """A Python seat that plays the first legal action and keeps the states it was shown."""

    def __init__(self, choose=lambda actions: actions[0]):
        self.choose = choose
        self.states = []

    def play(self, state):
        self.states.append(state)
        return self.choose(state.action_space())


def first_state(num_players=1, seed=1):
    """The PyState a Python player sees on the first turn of a seeded game."""
    captured = []

    class Stop(Exception):
        pass

    class Grab:
        def play(self, state):
            captured.append(state)
            raise Stop

    game = vardelic.VardelicGame([Grab() for _ in range(num_players)], seed)
    with pytest.raises(Stop):
        game.playout()
    return captured[0]


def run_python(code, *, env_extra=None, stdin="", drop=("NO_COLOR", "CLICOLOR_FORCE", "CLICOLOR")):
    """Runs `code` in a fresh interpreter; returns the completed process (text mode)."""
    env = {k: v for k, v in os.environ.items() if k not in drop}
    env.update(env_extra or {})
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        input=stdin,
        capture_output=True,
        text=True,
        env=env,
        timeout=120,
    )


@pytest.fixture
def solo_state():
    return first_state(1, seed=1)
