"""A position without a legal action (solo: a discard that the refilled hand cannot pay, with no
refill left) ends the game as Lost at its level at every table, and no seat is asked there."""

import pytest
import vardelic
import vardelic_rl as rl
from vardelic import players

# In game 640691, RandomPlayer(seed=640691) refills during a discard until, 21 moves in, its hand
# cannot pay the enemy's attack with no refill left, at level 4 (found by a search of seeds).
GAME = 640691
MOVES = 21
LEVEL = 4
LOST = 1  # int() of a lost GameResult


class Watched:
    """A Python seat that plays its delegate's choices, counting its turns; being asked at a
    position without a legal action fails the test."""

    def __init__(self, delegate):
        self.delegate = delegate
        self.turns = 0

    def play(self, state):
        assert state.action_space(), "asked at a position without a legal action"
        self.turns += 1
        return self.delegate.play(state=state)


def stuck_state():
    """The stuck position, reached in vardelic_rl by the same choices; returns (game, state)."""
    game = rl.Game(1, seed=GAME)
    chooser = players.RandomPlayer(seed=GAME)
    for _ in range(MOVES):
        action = chooser.play(game.state())
        (action_id,) = [i for i, a in game.legal_actions().items() if a == action]
        game.step(action_id)
    return game, game.state()


def test_the_environment_ends_a_stuck_position_as_lost():
    game, state = stuck_state()
    assert game.done and game.result == rl.Result.Lost and game.reward == LEVEL
    assert game.legal_actions() == {} and state.action_space() == []
    # Asked directly, the search player still has nothing to choose from.
    with pytest.raises(vardelic.EngineError, match="No actions available to choose from"):
        players.MCTSPlayer(10, 1, False).play(state)


@pytest.mark.parametrize(
    "seat",
    [
        lambda: players.RandomPlayer(seed=GAME),
        lambda: Watched(players.RandomPlayer(seed=GAME)),
    ],
    ids=["RandomPlayer", "python"],
)
def test_a_stuck_position_ends_the_game_lost_at_its_level(seat):
    player = seat()
    game = vardelic.VardelicGame([player], seed=GAME)
    assert int(game.playout()) == LOST
    assert game.reward() == LEVEL
    # The stored position stays the stuck one: playing on ends it again at once.
    assert int(game.playout()) == LOST
    if isinstance(player, Watched):
        assert player.turns == MOVES
