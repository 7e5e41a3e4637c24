"""Team texts: parsing, validation and the seats they build.

A team is a comma-separated list of seats; the number of seats is the
game's player count. Everything here is checked in the parent process so
that a typo is refused before any game starts.
"""

from __future__ import annotations

import importlib
import importlib.util
import os
import re
import sys
import textwrap
from dataclasses import dataclass, field
from typing import Any, ClassVar

from .errors import TeamError

MAX_SEATS = 4
U32_MAX = 2**32 - 1
VALID_POLICIES = (0, 2, 3, 4)

_SEAT_HELP = """\
Seats (a team is 1 to 4 of them, separated by commas):
  random                 uniformly random player; its seed is derived from the
                         game seed and the seat index, so deals are repeatable
  mcts                   tree search player with default settings
  mcts(SETTINGS)         settings as KEY=VALUE separated by commas:
                           playouts=N  (p)  playouts per sample      [1000]
                           threads=N   (t)  search threads           [1]
                           heuristics=B (h) rollout pruning on/off   [true]
                           policy=P    (v)  0/base, 2, 3 or 4        [base]
                           samples=N   (s)  determinised samples     [1]
                         a bare number is the playout count: mcts(200)
  ismcts                 information-set tree search player (vardelic_agents)
  ismcts(SETTINGS)       the keys of its constructor, KEY=VALUE separated by commas:
{ismcts_settings}
                         e.g. ismcts(time_ms=20) or ismcts(iterations=5000,threads=2)
  clairvoyant(SETTINGS)  the ismcts search on the true state: it SEES EVERY HIDDEN
                         CARD, a yardstick of perfect information, not a fair
                         player; the ismcts keys but redeal, e.g. clairvoyant(time_ms=20),
                         and sees=hands: only the other hands seen, the decks dealt
                         again (what knowing the partners' hands is worth)
  policy                 the learned policy that ships with vardelic_rl: one pass
                         of a small network per decision, no search
  policy(path=FILE)      the same player with the weights in FILE (.npz, written by
                         examples/imitate_search.py)
  py:MODULE:CLASS        your own player class, constructed without
                         arguments; MODULE is importable from the current
                         directory or PYTHONPATH, or a path to a .py file
  SEAT*N                 N copies of SEAT, e.g. random*3 or mcts(p=100)*2
"""


@dataclass(frozen=True)
class RandomSeat:
    def canonical(self) -> str:
        return "random"


@dataclass(frozen=True)
class MCTSSeat:
    playouts: int = 1000
    threads: int = 1
    heuristics: bool = True
    policy: int | None = None
    samples: int = 1

    def short(self) -> str:
        parts = [
            f"{key}={value}"
            for key, value, default in (
                ("p", self.playouts, 1000),
                ("t", self.threads, 1),
                ("h", "true" if self.heuristics else "false", "true"),
                ("v", self.policy, None),
                ("s", self.samples, 1),
            )
            if value != default
        ]
        return f"mcts({','.join(parts)})" if parts else "mcts"

    def canonical(self) -> str:
        policy = "base" if self.policy is None else str(self.policy)
        return (
            f"mcts(playouts={self.playouts},threads={self.threads},"
            f"heuristics={'true' if self.heuristics else 'false'},"
            f"policy={policy},samples={self.samples})"
        )


@dataclass(frozen=True)
class PySeat:
    module: str
    cls: str
    # Directory the team text was written in: workers import from there too, so
    # `py:mybot:Bot` finds ./mybot.py whichever way the workers were started.
    search_path: str = field(default="", compare=False)

    def canonical(self) -> str:
        return f"py:{self.module}:{self.cls}"


def _ismcts_settings() -> tuple:
    """``ISMCTSPlayer.SETTINGS``: the one description of the ismcts seat's keys, in canonical
    order (imported when first needed, so that the arena starts without vardelic_agents)."""
    try:
        from vardelic_agents import ISMCTSPlayer
    except ImportError as err:
        raise TeamError(
            f"ismcts seats need vardelic_agents, which cannot be imported ({err})"
        ) from None
    return ISMCTSPlayer.SETTINGS


def seat_help() -> str:
    """The seat kinds and their settings, for ``vardelic-arena --help``."""
    try:
        settings = _ismcts_settings()
    except TeamError as err:
        rows = [f"                           ({err})"]
    else:
        rows = []
        for setting in settings:
            # The arena seeds an ismcts seat from the game seed and the seat, so games repeat.
            default = "from game and seat" if setting.name == "seed" else _text(setting.default)
            rows.append(f"{' ' * 27}{setting.name}={setting.check}  [{default}]")
            rows += textwrap.wrap(
                setting.help, 79, initial_indent=" " * 31, subsequent_indent=" " * 31
            )
    return _SEAT_HELP.format(ismcts_settings="\n".join(rows))


def _text(value: Any) -> str:
    """A setting's value as team texts write it."""
    if value is None:
        return "none"
    if isinstance(value, bool):
        return "true" if value else "false"
    if not isinstance(value, float):
        return str(value)
    return repr(value).removesuffix(".0")


@dataclass(frozen=True)
class ISMCTSSeat:
    # (key, value) pairs in ISMCTSPlayer.SETTINGS order: only the settings the text gave.
    settings: tuple[tuple[str, Any], ...] = ()

    def canonical(self) -> str:
        body = ",".join(f"{key}={_text(value)}" for key, value in self.settings)
        return f"ismcts({body})" if body else "ismcts"

    def build(self, default_seed: int):
        """The player; without a seed of its own it takes `default_seed`, so deals repeat."""
        from vardelic_agents import ISMCTSPlayer

        settings = dict(self.settings)
        settings.setdefault("seed", default_seed)
        return ISMCTSPlayer(**settings)


@dataclass(frozen=True)
class ClairvoyantSeat(ISMCTSSeat):
    """The ismcts search without the re-deal: it plays on the true state, every hidden card
    seen. A yardstick of what perfect information reaches, marked wherever it is reported."""

    sees_hidden: ClassVar[bool] = True

    def canonical(self) -> str:
        return "clairvoyant" + super().canonical().removeprefix("ismcts")

    def build(self, default_seed: int):
        from vardelic_agents import ClairvoyantPlayer

        settings = dict(self.settings)
        settings.setdefault("seed", default_seed)
        return ClairvoyantPlayer(**settings)


@dataclass(frozen=True)
class PolicySeat:
    # An absolute path, so that workers started elsewhere find the file; None: shipped weights.
    path: str | None = None

    def canonical(self) -> str:
        return "policy" if self.path is None else f"policy(path={self.path})"

    def load(self):
        """The network, read once per process and file (a sweep seats it in every game)."""
        from vardelic_rl.network import shared_policy

        return shared_policy(self.path)

    def build(self):
        from vardelic_rl.network import NetworkPlayer

        return NetworkPlayer(self.path)


Seat = RandomSeat | MCTSSeat | PySeat | ISMCTSSeat | PolicySeat


@dataclass(frozen=True)
class Team:
    seats: tuple[Seat, ...]

    @property
    def name(self) -> str:
        return ",".join(seat.canonical() for seat in self.seats)

    @property
    def label(self) -> str:
        """Compact name for tables: default settings left out, repeats folded."""
        groups: list[list] = []
        for seat in self.seats:
            if groups and groups[-1][0] == seat:
                groups[-1][1] += 1
            else:
                groups.append([seat, 1])
        return ",".join(
            getattr(seat, "short", seat.canonical)() + (f"*{n}" if n > 1 else "")
            for seat, n in groups
        )

    @property
    def sees_hidden(self) -> bool:
        """Whether a seat sees cards hidden from it (a clairvoyant yardstick)."""
        return any(getattr(seat, "sees_hidden", False) for seat in self.seats)

    @property
    def players(self) -> int:
        return len(self.seats)

    def __str__(self) -> str:
        return self.name


def split_top_level(text: str, sep: str = ",") -> list[str]:
    """Split at separators outside parentheses; unbalanced input raises."""
    parts, depth, start = [], 0, 0
    for i, ch in enumerate(text):
        if ch == "(":
            depth += 1
        elif ch == ")":
            depth -= 1
            if depth < 0:
                raise TeamError(f"unbalanced ')' at position {i + 1} in {text!r}")
        elif ch == sep and depth == 0:
            parts.append(text[start:i])
            start = i + 1
    if depth != 0:
        raise TeamError(f"missing ')' in {text!r}")
    parts.append(text[start:])
    return parts


_MCTS_KEYS = {
    "playouts": "playouts",
    "p": "playouts",
    "threads": "threads",
    "t": "threads",
    "heuristics": "heuristics",
    "h": "heuristics",
    "policy": "policy",
    "v": "policy",
    "samples": "samples",
    "s": "samples",
}
_TRUE = {"true", "1", "yes", "on"}
_FALSE = {"false", "0", "no", "off"}
_MCTS_HINT = "write e.g. mcts(playouts=1000,threads=1,heuristics=true,policy=2,samples=3)"


def _positive_int(key: str, value: str) -> int:
    try:
        number = int(value, 10)
    except ValueError:
        raise TeamError(
            f"mcts setting {key}={value!r} is not a whole number; {_MCTS_HINT}"
        ) from None
    if not 1 <= number <= U32_MAX:
        raise TeamError(f"mcts setting {key}={number} must be between 1 and {U32_MAX}")
    return number


def _parse_mcts(body: str) -> MCTSSeat:
    settings: dict[str, Any] = {}
    items = [item.strip() for item in body.split(",")] if body.strip() else []
    for position, item in enumerate(items):
        if "=" not in item:
            if position == 0 and item:
                key, value = "playouts", item
            else:
                raise TeamError(f"mcts setting {item!r} needs the form KEY=VALUE; {_MCTS_HINT}")
        else:
            raw_key, value = (part.strip() for part in item.split("=", 1))
            key = _MCTS_KEYS.get(raw_key.lower())
            if key is None:
                known = "playouts (p), threads (t), heuristics (h), policy (v), samples (s)"
                raise TeamError(f"unknown mcts setting {raw_key!r}; known settings: {known}")
        if key in settings:
            raise TeamError(f"mcts setting {key} is given twice in mcts({body})")
        if key == "heuristics":
            if value.lower() in _TRUE:
                settings[key] = True
            elif value.lower() in _FALSE:
                settings[key] = False
            else:
                raise TeamError(f"mcts setting heuristics={value!r} must be true or false")
        elif key == "policy":
            if value.lower() in {"base", "none"}:
                settings[key] = None
            elif value.isdigit() and int(value) in VALID_POLICIES:
                settings[key] = int(value)
            else:
                raise TeamError(
                    f"mcts setting policy={value!r} is not a tree policy; use base (or 0), 2, 3 or 4"
                )
        else:
            settings[key] = _positive_int(key, value)
    if settings.get("policy") == 0:
        settings["policy"] = None  # 0 and base are the same policy; one canonical name
    return MCTSSeat(**settings)


_ISMCTS_HINT = "write e.g. ismcts(time_ms=20) or ismcts(iterations=5000,threads=2)"


def _ismcts_value(key: str, kind: str, value: str) -> Any:
    """The text's value read as the setting's type says (its first, for "int | None")."""
    kind, _, optional = kind.partition(" | ")
    lowered = value.lower()
    if optional and lowered == "none":
        return None
    try:
        if kind == "int":
            return int(value, 10)
        if kind == "float":
            return float(value)
    except ValueError:
        raise TeamError(f"ismcts setting {key}={value!r} is not a number; {_ISMCTS_HINT}") from None
    if kind == "bool":
        if lowered in _TRUE:
            return True
        if lowered in _FALSE:
            return False
        raise TeamError(f"ismcts setting {key}={value!r} must be true or false")
    return lowered  # a str: the player names the accepted values


def _parse_ismcts(body: str) -> ISMCTSSeat:
    kinds = {setting.name: setting.type for setting in _ismcts_settings()}
    settings: dict[str, Any] = {}
    for item in (part.strip() for part in body.split(",")) if body.strip() else ():
        raw_key, sep, value = (part.strip() for part in item.partition("="))
        if not sep:
            raise TeamError(f"ismcts setting {item!r} needs the form KEY=VALUE; {_ISMCTS_HINT}")
        key = raw_key.lower()
        if key not in kinds:
            raise TeamError(
                f"unknown ismcts setting {raw_key!r}; known settings: " + ", ".join(kinds)
            )
        if key in settings:
            raise TeamError(f"ismcts setting {key} is given twice in ismcts({body})")
        settings[key] = _ismcts_value(key, kinds[key], value)
    return ISMCTSSeat(tuple((key, settings[key]) for key in kinds if key in settings))


_CLAIRVOYANT_HINT = "write e.g. clairvoyant(time_ms=20) or clairvoyant(iterations=1000)"


def _parse_clairvoyant(body: str) -> ClairvoyantSeat:
    # sees is the clairvoyant's own key; the rest are ismcts keys.
    items = [part.strip() for part in body.split(",")] if body.strip() else []
    sees = [item for item in items if item.partition("=")[0].strip().lower() == "sees"]
    seat = _parse_ismcts(",".join(item for item in items if item not in sees))
    if any(key == "redeal" for key, _ in seat.settings):
        raise TeamError("clairvoyant deals nothing again: it takes no redeal setting")
    if len(sees) > 1:
        raise TeamError(f"clairvoyant setting sees is given twice in clairvoyant({body})")
    settings = seat.settings
    if sees:
        value = sees[0].partition("=")[2].strip().lower()
        if value not in ("all", "hands"):
            raise TeamError(f"clairvoyant setting sees={value!r} must be all or hands")
        settings += (("sees", value),)
    return ClairvoyantSeat(settings)


_POLICY_HINT = "write policy for the shipped weights or policy(path=FILE)"


def _parse_policy(body: str) -> PolicySeat:
    key, sep, value = (part.strip() for part in body.partition("="))
    if not body.strip():
        return PolicySeat()
    if not sep or key.lower() != "path" or not value:
        raise TeamError(f"policy takes one setting, path=FILE, not {body!r}; {_POLICY_HINT}")
    return PolicySeat(os.path.abspath(os.path.expanduser(value)))


_PY_HINT = (
    "write py:MODULE:CLASS, with MODULE importable from the current directory or "
    "PYTHONPATH (or a path to a .py file) and CLASS constructible without arguments"
)


def _parse_py(text: str) -> PySeat:
    rest = text[3:]
    module, sep, cls = rest.rpartition(":")
    if not sep or not module or not cls:
        raise TeamError(f"{text!r} names no module and class; {_PY_HINT}")
    return PySeat(module=module, cls=cls, search_path=os.getcwd())


_REPEAT = re.compile(r"^(?P<seat>.*\S)\s*\*\s*(?P<count>\d+)$")


def parse_seat(text: str) -> list[Seat]:
    text = text.strip()
    repeat = _REPEAT.match(text)
    count = 1
    if repeat:
        text, count = repeat["seat"], int(repeat["count"])
        if count < 1:
            raise TeamError(f"repeat count in {text}*{count} must be at least 1")
    if not text:
        raise TeamError("empty seat; " + _SEAT_KINDS)
    lowered = text.lower()
    if lowered == "random":
        seat: Seat = RandomSeat()
    elif lowered.startswith("random("):
        raise TeamError("random takes no settings: its seed comes from the game seed; write random")
    elif kind := next((k for k in _SEARCH_SEATS if lowered.startswith(k)), None):
        default, parse, hint = _SEARCH_SEATS[kind]
        if lowered == kind:
            seat = default()
        elif lowered.startswith(kind + "(") and text.endswith(")"):
            # Not lowered: a policy's file name keeps its case.
            seat = parse(text[len(kind) + 1 : -1])
        else:
            raise TeamError(f"cannot read {text!r}; {hint}")
    elif text.startswith("py:"):
        seat = _parse_py(text)
    else:
        raise TeamError(f"unknown seat kind {text!r}; " + _SEAT_KINDS)
    return [seat] * count


# The search seats: bare name for the defaults, NAME(KEY=VALUE,...) for settings.
_SEARCH_SEATS = {
    "mcts": (MCTSSeat, _parse_mcts, _MCTS_HINT),
    "ismcts": (ISMCTSSeat, _parse_ismcts, _ISMCTS_HINT),
    "clairvoyant": (ClairvoyantSeat, _parse_clairvoyant, _CLAIRVOYANT_HINT),
    "policy": (PolicySeat, _parse_policy, _POLICY_HINT),
}

_SEAT_KINDS = (
    "a seat is random, mcts, mcts(KEY=VALUE,...), ismcts(KEY=VALUE,...), "
    "clairvoyant(KEY=VALUE,...), policy, policy(path=FILE) or py:MODULE:CLASS"
)


def parse_team(text: str) -> Team:
    """Parse one --team value; raise TeamError saying what is wrong."""
    try:
        seats = [seat for part in split_top_level(text) for seat in parse_seat(part)]
    except TeamError as err:
        raise TeamError(f"team {text!r}: {err}") from None
    if not 1 <= len(seats) <= MAX_SEATS:
        raise TeamError(f"team {text!r} has {len(seats)} seats; a team has 1 to {MAX_SEATS} seats")
    return Team(tuple(seats))


def load_class(seat: PySeat) -> type:
    """Import the class of a py: seat (in the parent for checking, and in workers)."""
    if seat.search_path and seat.search_path not in sys.path:
        sys.path.append(seat.search_path)
    if seat.module.endswith(".py"):
        path = seat.module
        if not os.path.isabs(path) and seat.search_path:
            path = os.path.join(seat.search_path, path)
        name = "_arena_user_" + re.sub(r"\W", "_", os.path.abspath(path))
        module = sys.modules.get(name)
        if module is None:
            loader_spec = importlib.util.spec_from_file_location(name, path)
            if loader_spec is None or loader_spec.loader is None or not os.path.exists(path):
                raise TeamError(f"{seat.canonical()}: no such file {path!r}; {_PY_HINT}")
            module = importlib.util.module_from_spec(loader_spec)
            sys.modules[name] = module
            try:
                loader_spec.loader.exec_module(module)
            except BaseException:
                del sys.modules[name]
                raise
    else:
        module = importlib.import_module(seat.module)
    obj: Any = module
    for part in seat.cls.split("."):
        obj = getattr(obj, part)
    return obj


def _check_ismcts(seat: ISMCTSSeat) -> None:
    try:
        seat.build(0)
    except ImportError as err:
        raise TeamError(f"{seat.canonical()}: cannot import vardelic_agents ({err})") from None
    except (TypeError, ValueError, OverflowError) as err:
        raise TeamError(f"{seat.canonical()}: {err}; {_ISMCTS_HINT}") from None


def check_seat(seat: Seat) -> None:
    """Refuse a py: seat that cannot be imported, constructed or asked to play, and an ismcts
    seat whose settings its player refuses."""
    if isinstance(seat, ISMCTSSeat):
        _check_ismcts(seat)
        return
    if not isinstance(seat, PySeat):
        return
    name = seat.canonical()
    try:
        cls = load_class(seat)
    except TeamError:
        raise
    except AttributeError:
        raise TeamError(
            f"{name}: module {seat.module!r} has no attribute {seat.cls!r}; {_PY_HINT}"
        ) from None
    except Exception as err:  # noqa: BLE001 - any import failure is the user's to see
        raise TeamError(
            f"{name}: cannot import module {seat.module!r} ({type(err).__name__}: {err}); {_PY_HINT}"
        ) from None
    if not callable(cls):
        raise TeamError(f"{name}: {seat.cls!r} is not a class; {_PY_HINT}")
    try:
        instance = cls()
    except Exception as err:  # noqa: BLE001
        raise TeamError(
            f"{name}: {seat.cls}() failed ({type(err).__name__}: {err}); the class must be "
            "constructible without arguments"
        ) from None
    if not callable(getattr(instance, "play", None)):
        raise TeamError(
            f"{name}: {seat.cls} has no play(state) method; a player answers "
            "play(state=...) with an action object"
        )


def _check_policy(seat: PolicySeat, players: int) -> None:
    try:
        network = seat.load()
    except ImportError as err:
        raise TeamError(f"{seat.canonical()}: cannot import vardelic_rl ({err})") from None
    except ValueError as err:
        raise TeamError(f"{seat.canonical()}: {err}; {_POLICY_HINT}") from None
    if players not in network.player_counts:
        counts = ", ".join(str(n) for n in network.player_counts)
        raise TeamError(
            f"{seat.canonical()}: its weights were trained for {counts} players, "
            f"and this team has {players}"
        )


def check_team(team: Team) -> None:
    for seat in dict.fromkeys(team.seats):
        if isinstance(seat, PolicySeat):
            _check_policy(seat, team.players)
        else:
            check_seat(seat)
