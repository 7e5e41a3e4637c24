"""The stubs in python/vardelic-stubs, and those of the nanobind modules beside their packages,
must describe the runtime modules exactly: the same names, classes, methods and parameters
(names, kinds and defaults)."""

import ast
import enum
import importlib
import importlib.util
import inspect
import pathlib
import re
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


# The nanobind modules' stubs, held to each module: the same names, the same members of each
# class (methods, properties, enum values), the same parameters as nanobind reports them.
PYTHON = STUBS.parent
NATIVE_STUBS = {
    "vardelic_rl._vardelic_rl": PYTHON / "vardelic_rl" / "_vardelic_rl.pyi",
    "vardelic_agents._native": PYTHON / "vardelic_agents" / "_native.pyi",
}


def native_parameters(function, skip_self):
    """(name, kind, default) of a nanobind function's parameters, from the one signature it has."""
    ((signature, _, defaults),) = function.__nb_signature__
    # nanobind writes default values as \0, \1, ... and hands the values beside the text; its
    # return types (numpy.ndarray[dtype=...]) are not Python syntax and are not compared.
    signature = re.sub(r"\\(\d+)", lambda m: repr(defaults[int(m[1])]), signature)
    head = signature.rsplit(" -> ", 1)[0]
    return parameters(ast.parse(head + ": ...").body[0], skip_self)


def is_property(node):
    return any(isinstance(d, ast.Name) and d.id == "property" for d in node.decorator_list)


def check_native_class(node, cls):
    if isinstance(cls, type) and issubclass(cls, tuple):  # a named tuple: the same fields
        fields = tuple(n.target.id for n in node.body if isinstance(n, ast.AnnAssign))
        assert fields == cls._fields, cls.__name__
        return
    if isinstance(cls, type) and issubclass(cls, enum.Enum):
        values = {
            t.id: ast.literal_eval(n.value)
            for n in node.body
            if isinstance(n, ast.Assign)
            for t in n.targets
        }
        assert values == {name: member.value for name, member in cls.__members__.items()}
        return
    functions = {n.name: n for n in node.body if isinstance(n, ast.FunctionDef)}
    attributes = {n.target.id for n in node.body if isinstance(n, ast.AnnAssign)}
    runtime = {n: v for n, v in vars(cls).items() if public(n) or n == "__init__"}
    assert set(functions) | attributes == set(runtime), cls.__name__
    for name, function in functions.items():
        assert is_property(function) == isinstance(runtime[name], property), (
            f"{cls.__name__}.{name}"
        )
        if not is_property(function):
            assert parameters(function, True) == native_parameters(runtime[name], True), name


@pytest.mark.parametrize("module_name", list(NATIVE_STUBS))
def test_native_stub_matches_runtime(module_name):
    module = importlib.import_module(module_name)
    tree = ast.parse(NATIVE_STUBS[module_name].read_text())
    declared = {}
    for node in tree.body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)) and public(node.name):
            declared[node.name] = node
        elif isinstance(node, ast.AnnAssign):
            declared[node.target.id] = node
    assert set(declared) == {n for n in dir(module) if public(n)}
    for name, node in declared.items():
        if isinstance(node, ast.ClassDef):
            check_native_class(node, getattr(module, name))
        elif isinstance(node, ast.FunctionDef):
            assert parameters(node, False) == native_parameters(getattr(module, name), False)


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")
def test_native_stubs_type_check_a_sample(tmp_path):
    sample = tmp_path / "sample.py"
    sample.write_text(
        "import numpy as np\n"
        "import numpy.typing as npt\n"
        "from vardelic_rl._vardelic_rl import NUM_ACTIONS, Game, Result, VectorEnv, encode\n"
        "from vardelic_agents._native import ISMCTSPlayer\n"
        "game = Game(2, seed=7)\n"
        "mask: npt.NDArray[np.int8] = game.action_mask()\n"
        "defeated: int = game.step(np.int64(np.flatnonzero(mask)[0]))\n"
        "won: bool = game.result == Result.Won\n"
        "observation, legal = encode(game.state())\n"
        "batch = VectorEnv(4, 2, seed=1)\n"
        "observations, masks, rewards, terminations = batch.step(np.zeros(4, np.int64))\n"
        "size: int = NUM_ACTIONS + observations.shape[1]\n"
        "action = ISMCTSPlayer(iterations=5).play(game.state())\n"
    )
    stubs = tmp_path / "stubs"
    shutil.copytree(STUBS, stubs / "vardelic")
    for module_name, path in NATIVE_STUBS.items():
        package, name = module_name.split(".")
        (stubs / package).mkdir()
        (stubs / package / "__init__.pyi").write_text("")
        shutil.copy(path, stubs / package / f"{name}.pyi")
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", str(sample)],
        capture_output=True,
        text=True,
        env={"MYPYPATH": str(stubs), "PATH": "/usr/bin:/bin"},
        cwd=tmp_path,
    )
    assert done.returncode == 0, done.stdout + done.stderr
