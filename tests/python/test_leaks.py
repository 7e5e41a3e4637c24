import gc
import sys

import pytest
import vardelic
from conftest import actions, card, players


class Inspector:
    """A Python seat that exercises every state query, conversion and error path."""

    def __init__(self):
        self.turn = 0

    def play(self, state):
        self.turn += 1
        str(state)
        state.has_turn()
        state.current_hand()
        state.current_enemy()
        state.reward()
        space = state.action_space()
        [str(a) for a in space]
        players.RandomPlayer(seed=self.turn).play(state)
        if self.turn % 50 == 0:
            raise LookupError("fails a turn now and then")
        return space[self.turn % len(space)]


def one_round(games):
    for seed in range(games):
        game = vardelic.VardelicGame([Inspector(), players.RandomPlayer(seed=seed)], seed=seed)
        try:
            game.playout()
        except LookupError:
            pass
        game.reward()
        vardelic.VardelicGame([players.RandomPlayer(seed=seed)] * 3, seed=seed).playout()
        for bad in (None, 5):
            try:
                vardelic.VardelicGame(
                    [type("P", (), {"play": lambda self, state, b=bad: b})()]
                ).playout()
            except TypeError:
                pass
        try:
            vardelic.VardelicGame(
                [
                    type("P", (), {"play": lambda self, state: actions.ActionYield(1, k=2)})(),
                    object(),
                ]
            ).playout()
        except KeyError:
            pass
        try:
            actions.ActionCombo([card.Card(card.CardSuit.Hearts, card.CardValue.Two)] * 5)
        except ValueError:
            pass
        try:
            actions.ActionDiscard([1])
        except TypeError:
            pass
        card.CardSuit.all(), card.CardValue.numbers(), card.CardValue.royals()
        # A seat that holds its own game: only the collector can free the pair.
        seat = Inspector()
        seat.game = vardelic.VardelicGame([seat], seed=seed)


def blocks():
    gc.collect()
    return sys.getallocatedblocks()


@pytest.mark.parametrize("games", [300])
def test_blocks_do_not_grow_with_iterations(games):
    one_round(games)  # warm caches
    start = blocks()
    one_round(games)
    middle = blocks()
    one_round(games)
    end = blocks()
    first, second = middle - start, end - middle
    print(f"allocated blocks: {start} -> {middle} -> {end} (growth {first}, {second})")
    # A leak of one object per game would grow each round by at least `games` blocks.
    assert first < games // 3 and second < games // 3
