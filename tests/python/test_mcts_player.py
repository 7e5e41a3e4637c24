import math

import pytest
import vardelic
from conftest import first_state, players

MCTSPlayer = players.MCTSPlayer


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        ((10, 1), {}, TypeError, "missing required argument 'use_heuristics'"),
        ((10, 1, 1), {}, TypeError, "^argument 'use_heuristics': 'int' object cannot be converted"),
        ((10, 1, None), {}, TypeError, "^argument 'use_heuristics': "),
        ((-1, 1, True), {}, OverflowError, "negative"),
        ((2**32, 1, True), {}, OverflowError, "^int too big to convert$"),
        ((10, -1, True), {}, OverflowError, "negative"),
        ((10, 1, True, 256), {}, OverflowError, "^int too big to convert$"),
        ((10, 1, True, "0"), {}, TypeError, "^argument 'policy_variation': "),
        ((10, 1, True, None, 2**32), {}, OverflowError, "^int too big to convert$"),
        ((10, 1, True, None, 1.5), {}, TypeError, "^argument 'deterministic_samples': "),
        ((10, 1, True, None, 1, 0), {}, TypeError, "at most 5 arguments"),
        ((10, 1, True), {"playouts": 3}, TypeError, "given by name \\('playouts'\\) and position"),
        (
            (),
            {"playouts": 3, "num_threads": 1, "heuristics": True},
            TypeError,
            "unexpected keyword",
        ),
    ],
)
def test_constructor_errors(args, kwargs, error, message):
    with pytest.raises(error, match=message):
        MCTSPlayer(*args, **kwargs)


def test_constructor_forms():
    MCTSPlayer(10, 1, True)
    MCTSPlayer(
        playouts=10,
        num_threads=1,
        use_heuristics=False,
        policy_variation=None,
        deterministic_samples=None,
    )
    MCTSPlayer(10, 1, False, 4, 3)
    # Nothing but the conversions is checked at construction.
    MCTSPlayer(0, 0, False, 7, 0)


def test_no_attributes_and_empty_ranking_before_any_decision():
    player = MCTSPlayer(10, 1, True)
    assert player.ranked_actions() == []
    assert [n for n in dir(player) if not n.startswith("_")] == ["play", "ranked_actions"]
    with pytest.raises(TypeError, match="takes no arguments"):
        player.ranked_actions(1)
    with pytest.raises(TypeError, match="^argument 'state': "):
        player.play(None)


@pytest.mark.parametrize("policy", [1, 7, 255])
def test_unknown_policy_fails_and_keeps_the_ranking(policy):
    state = first_state(2, seed=3)
    player = MCTSPlayer(20, 1, False, policy)
    with pytest.raises(
        vardelic.EngineError, match=f"^Could not determine policy from number '{policy}'$"
    ):
        player.play(state)
    assert player.ranked_actions() == []


def test_no_samples_means_no_action():
    with pytest.raises(vardelic.EngineError, match="^No actions available to choose from$"):
        MCTSPlayer(20, 1, False, None, 0).play(first_state(1, seed=3))


def test_zero_playouts_list_every_action_unvisited():
    state = first_state(2, seed=4)
    player = MCTSPlayer(0, 0, False)
    chosen = player.play(state)
    ranked = player.ranked_actions()
    legal = state.action_space()
    assert sorted(str(a) for a, _, _ in ranked) == sorted({str(a) for a in legal})
    assert all(visits == 0 and math.isnan(reward) for _, visits, reward in ranked)
    assert chosen in legal


@pytest.mark.parametrize("policy", [None, 0, 2, 3, 4])
@pytest.mark.parametrize("samples", [1, 3])
def test_ranking_after_a_decision(policy, samples):
    state = first_state(2, seed=5)
    player = MCTSPlayer(60, 1, policy == 2, policy, samples)
    chosen = player.play(state=state)
    ranked = player.ranked_actions()
    assert ranked[0][0] == chosen
    visits = [v for _, v, _ in ranked]
    assert visits == sorted(visits, reverse=True)
    assert sum(visits) == 60 * samples
    assert sorted(str(a) for a, _, _ in ranked) == sorted({str(a) for a in state.action_space()})
    assert all(0 <= r <= 12 for _, v, r in ranked if v)


def test_several_threads():
    player = MCTSPlayer(200, 4, True)
    player.play(first_state(3, seed=6))
    assert sum(v for _, v, _ in player.ranked_actions()) == 200


def test_a_seated_search_player_is_a_copy():
    player = MCTSPlayer(30, 1, True)
    result = vardelic.VardelicGame([player, players.RandomPlayer(seed=1)], seed=9).playout()
    assert int(result) in (0, 1)
    assert player.ranked_actions() == []


def test_failed_decision_in_a_game_keeps_the_state(capfd):
    game = vardelic.VardelicGame([MCTSPlayer(10, 1, False, 1)], seed=2)
    game.print()
    before = capfd.readouterr().err
    with pytest.raises(vardelic.EngineError, match="policy from number '1'"):
        game.playout()
    game.print()
    assert capfd.readouterr().err == before


def test_ranked_action_objects_are_action_classes():
    player = MCTSPlayer(30, 1, False)
    player.play(first_state(1, seed=7))
    classes = {type(a).__name__ for a, _, _ in player.ranked_actions()}
    assert classes <= {
        "ActionPlay",
        "ActionAnimalCombo",
        "ActionCombo",
        "ActionYield",
        "ActionDiscard",
        "ActionChangePlayer",
        "ActionRefillHand",
    }
    first = player.ranked_actions()[0]
    assert isinstance(first, tuple) and len(first) == 3
    assert isinstance(first[1], int) and isinstance(first[2], float)
    assert player.ranked_actions()[0][0] is not first[0]  # a new list of new objects per call
