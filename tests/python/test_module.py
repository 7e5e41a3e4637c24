import importlib
import inspect
import types

import pytest
import vardelic
from conftest import actions, card, first_state, players


def test_top_level_names_in_order():
    assert vardelic.__all__ == ["card", "actions", "players", "VardelicGame"]
    assert vardelic.__doc__ and vardelic.__doc__.count(".") == 1


@pytest.mark.parametrize(
    "name, classes",
    [
        ("card", ["Card", "CardSuit", "CardValue"]),
        (
            "actions",
            [
                "ActionPlay",
                "ActionAnimalCombo",
                "ActionCombo",
                "ActionYield",
                "ActionDiscard",
                "ActionChangePlayer",
            ],
        ),
        ("players", ["RandomPlayer", "InputPlayer", "MCTSPlayer"]),
    ],
)
def test_submodules_are_attributes_only(name, classes):
    module = getattr(vardelic, name)
    assert isinstance(module, types.ModuleType)
    assert module.__name__ == name
    assert module.__all__ == classes
    assert all(isinstance(getattr(module, c), type) for c in classes)
    with pytest.raises(ModuleNotFoundError):
        importlib.import_module("vardelic." + name)
    namespace = {}
    exec(f"from vardelic import {name}", namespace)
    assert namespace[name] is module


def unregistered_classes():
    state = first_state(1, seed=1)
    refill = next(a for a in state.action_space() if type(a).__name__ == "ActionRefillHand")
    game = vardelic.VardelicGame([players.RandomPlayer(seed=3)], seed=3)
    return {
        "PyState": type(state),
        "GameResult": type(game.playout()),
        "Enemy": type(state.current_enemy()),
        "PlayerId": type(state.has_turn()),
        "ActionRefillHand": type(refill),
    }


def all_classes():
    found = {name: getattr(vardelic, name) for name in ["VardelicGame"]}
    for module in (card, actions, players):
        found.update({name: getattr(module, name) for name in module.__all__})
    found.update(unregistered_classes())
    return found


def test_unregistered_classes_are_nowhere():
    for name in unregistered_classes():
        for module in (vardelic, card, actions, players):
            assert not hasattr(module, name), (module.__name__, name)
    assert "ActionRefillHand" not in actions.__all__


def test_classes_have_bare_names_no_docstring_and_object_base():
    for name, cls in all_classes().items():
        assert cls.__name__ == name
        assert repr(cls) == f"<class '{name}'>"
        assert cls.__doc__ is None
        assert cls.__bases__ == (object,)


@pytest.mark.parametrize("name", ["PyState", "GameResult", "Enemy", "PlayerId"])
def test_unconstructible_classes(name):
    cls = unregistered_classes()[name]
    with pytest.raises(TypeError, match="^No constructor defined$"):
        cls()


@pytest.mark.parametrize("cls", [card.CardSuit, card.CardValue])
def test_enumerations_have_no_constructor(cls):
    with pytest.raises(TypeError, match="^No constructor defined$"):
        cls(1)


def test_engine_error_is_a_base_exception_outside_all():
    assert vardelic.EngineError.__bases__ == (BaseException,)
    assert not issubclass(vardelic.EngineError, Exception)
    assert "EngineError" not in vardelic.__all__


def test_every_method_and_constructor_has_a_text_signature():
    for name, cls in all_classes().items():
        if name in {"PyState", "GameResult", "Enemy", "PlayerId", "CardSuit", "CardValue"}:
            continue
        inspect.signature(cls)  # raises ValueError when missing
        for attribute in vars(cls):
            if not attribute.startswith("_") and callable(getattr(cls, attribute)):
                inspect.signature(getattr(cls, attribute))


def test_the_search_player_docstrings():
    assert players.MCTSPlayer.play.__doc__ == "Choose an action based on the given state"
    assert players.MCTSPlayer.ranked_actions.__doc__.split("\n") == [
        "List actions with associated stats, sorted by most visits in the MCTS.",
        "The first Action in the list is considered the best move to play, and is",
        "also what `play()` will return.",
        "",
        "Updates on calls to `play()`.",
        "",
        "# Returns",
        "List of tuples in the form `(action, visits, avg_reward)`",
    ]
