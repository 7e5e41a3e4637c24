"""The stubs in python/vardelic-stubs must describe the runtime module exactly: the same
names, classes, methods and parameters (names, kinds and defaults)."""

import ast
import importlib.util
import inspect
import pathlib
import shutil
import subprocess
import sys

import pytest
import vardelic
from conftest import first_state

STUBS = pathlib.Path(__file__).resolve().parents[2] / "python" / "vardelic-stubs"


def unregistered():
    state = first_state(1, seed=1)
    game = vardelic.VardelicGame([vardelic.players.RandomPlayer(seed=1)], seed=1)
    return {
        "PyState": type(state),
        "PlayerId": type(state.has_turn()),
        "GameResult": type(game.playout()),
        "Enemy": type(state.current_enemy()),
        "ActionRefillHand": type(state.action_space()[-1]),
    }


RUNTIME = {
    "__init__": vardelic,
    "card": vardelic.card,
    "actions": vardelic.actions,
    "players": vardelic.players,
}


def parse(name):
    return ast.parse((STUBS / f"{name}.pyi").read_text())


def stub_all(tree):
    for node in tree.body:
        if isinstance(node, ast.Assign) and node.targets[0].id == "__all__":
            return ast.literal_eval(node.value)
    return None


def public(name):
    return not name.startswith("_")


def parameters(function, skip_first):
    """(name, kind, default) of each parameter of a stub function."""
    args = function.args
    result = []
    positional = args.posonlyargs + args.args
    defaults = [None] * (len(positional) - len(args.defaults)) + args.defaults
    for arg, default in zip(positional, defaults, strict=True):
        kind = "positional" if arg in args.posonlyargs else "either"
        result.append(
            (arg.arg, kind, ast.literal_eval(default) if default else inspect.Parameter.empty)
        )
    if args.vararg:
        result.append((args.vararg.arg, "var_positional", inspect.Parameter.empty))
    for arg, default in zip(args.kwonlyargs, args.kw_defaults, strict=True):
        result.append(
            (arg.arg, "keyword", ast.literal_eval(default) if default else inspect.Parameter.empty)
        )
    if args.kwarg:
        result.append((args.kwarg.arg, "var_keyword", inspect.Parameter.empty))
    return result[1:] if skip_first else result


KINDS = {
    inspect.Parameter.POSITIONAL_ONLY: "positional",
    inspect.Parameter.POSITIONAL_OR_KEYWORD: "either",
    inspect.Parameter.VAR_POSITIONAL: "var_positional",
    inspect.Parameter.KEYWORD_ONLY: "keyword",
    inspect.Parameter.VAR_KEYWORD: "var_keyword",
}


def runtime_parameters(callable_, skip_self):
    params = list(inspect.signature(callable_).parameters.values())
    if skip_self and params and params[0].name == "self":
        params = params[1:]
    return [(p.name, KINDS[p.kind], p.default) for p in params]


def check_class(node, cls):
    stub_methods = {}
    for item in node.body:
        if isinstance(item, ast.FunctionDef):
            stub_methods[item.name] = item
        elif isinstance(item, ast.AnnAssign) and public(item.target.id):
            assert hasattr(cls, item.target.id), f"{cls.__name__}.{item.target.id}"
    runtime_methods = {
        n
        for n, v in vars(cls).items()
        if public(n) and callable(getattr(cls, n)) and not isinstance(getattr(cls, n), cls)
    }
    assert {n for n in stub_methods if public(n)} == runtime_methods, cls.__name__
    for name, function in stub_methods.items():
        if name == "__init__":
            assert parameters(function, True) == runtime_parameters(cls, False), cls.__name__
        elif public(name):
            static = any(
                isinstance(d, ast.Name) and d.id == "staticmethod" for d in function.decorator_list
            )
            assert parameters(function, not static) == runtime_parameters(
                getattr(cls, name), not static
            ), name
            docstring = ast.get_docstring(function)
            runtime_doc = getattr(cls, name).__doc__
            if docstring is not None and runtime_doc is not None:
                # A docstring the runtime carries is fixed: the stub gives its first line.
                assert runtime_doc.startswith(docstring), name
        else:
            assert getattr(cls, name, None) is not None, f"{cls.__name__}.{name}"


@pytest.mark.parametrize("name", list(RUNTIME))
def test_stub_matches_runtime(name):
    tree = parse(name)
    module = RUNTIME[name]
    assert stub_all(tree) == module.__all__
    extra = unregistered()
    stub_classes = {n.name: n for n in tree.body if isinstance(n, ast.ClassDef) and public(n.name)}
    for class_name, node in stub_classes.items():
        cls = getattr(module, class_name, None) or extra.get(class_name)
        assert cls is not None, f"{name}.{class_name} does not exist"
        if class_name == "EngineError":
            assert cls.__bases__ == (BaseException,)
            continue
        check_class(node, cls)
    runtime_classes = {n for n in dir(module) if isinstance(getattr(module, n), type)}
    assert runtime_classes <= set(stub_classes), runtime_classes - set(stub_classes)


@pytest.mark.parametrize("name", list(RUNTIME))
def test_every_stub_class_and_method_has_a_one_line_docstring(name):
    undocumented = [
        node.name
        for node in ast.walk(parse(name))
        if isinstance(node, (ast.ClassDef, ast.FunctionDef))
        and len((ast.get_docstring(node) or "").splitlines()) != 1
    ]
    assert not undocumented


def test_every_unregistered_class_has_a_stub():
    declared = set()
    for name in RUNTIME:
        declared |= {n.name for n in parse(name).body if isinstance(n, ast.ClassDef)}
    assert set(unregistered()) <= declared


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")
def test_stubs_type_check_a_sample(tmp_path):
    sample = tmp_path / "sample.py"
    sample.write_text(
        "import vardelic\n"
        "from vardelic import card, players\n"
        "class Mine:\n"
        "    def play(self, state: vardelic.PyState) -> vardelic.actions.ActionYield:\n"
        "        state.current_hand()[0] == card.Card(card.CardSuit.Hearts, card.CardValue.Two)\n"
        "        return vardelic.actions.ActionYield()\n"
        "game = vardelic.VardelicGame([players.RandomPlayer(seed=1), Mine()], seed=3)\n"
        "result: int = int(game.playout())\n"
        "ranked: list[tuple[object, int, float]] = list(players.MCTSPlayer(1, 1, True).ranked_actions())\n"
    )
    stubs = tmp_path / "stubs"
    shutil.copytree(STUBS, stubs / "vardelic")
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", str(sample)],
        capture_output=True,
        text=True,
        env={"MYPYPATH": str(stubs), "PATH": "/usr/bin:/bin"},
        cwd=tmp_path,
    )
    assert done.returncode == 0, done.stdout + done.stderr
