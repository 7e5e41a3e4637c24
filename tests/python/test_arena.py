"""Arena runner tests against the stand-in engine (tests/python/arena_fake_engine.py);
test_arena_engine.py repeats the end-to-end ones on the real extension."""

import dataclasses
import json
import math
import signal
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
import arena_fake_engine
import arena_support as support
from vardelic_arena import cli, evaluate, parse_team, seat_seed, stats
from vardelic_arena.errors import (
    ArenaError,
    RecordFileError,
    SetupError,
    UsageError,
)
from vardelic_arena.records import GameRecord, RecordFile
from vardelic_arena.summary import summarise
from vardelic_arena.teams import MCTSSeat, PySeat, RandomSeat, TeamError, check_team

FAKE = "arena_fake_engine"


# --- team texts ---------------------------------------------------------


@pytest.mark.parametrize(
    "text, seats",
    [
        ("random", [RandomSeat()]),
        ("random,random,random,random", [RandomSeat()] * 4),
        ("random*3", [RandomSeat()] * 3),
        ("mcts", [MCTSSeat()]),
        (
            "mcts(playouts=1000,threads=1,heuristics=true,policy=2,samples=3),random",
            [MCTSSeat(1000, 1, True, 2, 3), RandomSeat()],
        ),
        ("mcts(200)", [MCTSSeat(playouts=200)]),
        ("mcts(p=50, t=2, h=false, v=4, s=2)*2", [MCTSSeat(50, 2, False, 4, 2)] * 2),
        ("mcts(policy=0),mcts(policy=base)", [MCTSSeat(policy=None)] * 2),
        (
            "py:arena_players:FirstAction,MCTS(P=5)",
            [PySeat("arena_players", "FirstAction"), MCTSSeat(playouts=5)],
        ),
    ],
)
def test_parse_team(text, seats):
    assert list(parse_team(text).seats) == seats


def test_canonical_name_round_trips_and_label_is_compact():
    team = parse_team("mcts(p=20,v=3)*2,random")
    assert parse_team(team.name) == team
    assert team.label == "mcts(p=20,v=3)*2,random"
    assert parse_team("mcts(p=1000,t=1,h=true,s=1)").label == "mcts"


@pytest.mark.parametrize(
    "text, message",
    [
        ("", "empty seat"),
        ("random,,random", "empty seat"),
        ("randm", "unknown seat kind 'randm'"),
        ("random*5", "5 seats"),
        ("random,random,random,random,mcts", "5 seats"),
        ("mcts(playouts=0)", "between 1 and"),
        ("mcts(playouts=ten)", "not a whole number"),
        ("mcts(threads=-1)", "between 1 and"),
        ("mcts(policy=1)", "not a tree policy"),
        ("mcts(policy=5)", "not a tree policy"),
        ("mcts(depth=3)", "unknown mcts setting 'depth'"),
        ("mcts(p=3,playouts=4)", "given twice"),
        ("mcts(heuristics=maybe)", "true or false"),
        ("mcts(p=10", "missing ')'"),
        ("mcts[p=10]", "mcts(playouts=1000"),
        ("random)", "unbalanced ')'"),
        ("random(seed=3)", "random takes no settings"),
        ("py:arena_players", "names no module and class"),
    ],
)
def test_bad_team_is_refused_with_a_hint(text, message):
    with pytest.raises(TeamError) as info:
        parse_team(text)
    assert message in str(info.value)
    assert repr(text)[1:-1] in str(info.value)  # names the team it refuses


@pytest.mark.parametrize(
    "text, message",
    [
        ("py:no_such_module_for_arena:Bot", "cannot import module 'no_such_module_for_arena'"),
        ("py:arena_players:Missing", "has no attribute 'Missing'"),
        ("py:arena_players:NeedsArguments", "constructible without arguments"),
        ("py:arena_players:BrokenConstructor", "no config file"),
        ("py:arena_players:NoPlay", "no play(state) method"),
        ("py:missing_dir/bot.py:Bot", "no such file"),
    ],
)
def test_unusable_player_class_is_refused(text, message):
    with pytest.raises(TeamError) as info:
        check_team(parse_team(text))
    assert message in str(info.value)


def test_player_class_from_a_file(tmp_path):
    (tmp_path / "mybot.py").write_text(
        "class Bot:\n    def play(self, state):\n        return state.action_space()[-1]\n"
    )
    result = evaluate(
        [f"py:{tmp_path / 'mybot.py'}:Bot"], 3, engine=FAKE, workers=1, progress=False
    )
    assert [r["error"] for r in result.records] == [None] * 3


@pytest.mark.parametrize(
    "args, message",
    [
        (["--team", "random", "--team", "mcts(policy=7)"], "not a tree policy"),
        (["--team", "py:arena_players:NoPlay"], "no play(state) method"),
        (["--team", "random", "--team", "random"], "same as team 1"),
        (["--team", "random", "--games", "0"], "at least 1"),
        (["--team", "random", "--seed", "-1"], "do not fit"),
        (["--team", "random", "--resume"], "--resume needs --out"),
        (["--team", "random", "--plot", "figure.txt"], "name a file ending in .png"),
        (["--team", "random", "--json", "."], "is a folder; name a file"),
    ],
)
def test_cli_refuses_before_any_game(args, message, tmp_path, capsys):
    out = tmp_path / "never.jsonl"
    with pytest.raises(SystemExit) as info:
        cli.main(
            [*args, "--engine", FAKE, "--workers", "0", "--out", str(out)]
            if "--resume" not in args
            else [*args, "--engine", FAKE]
        )
    assert info.value.code == 2
    assert message in capsys.readouterr().err
    assert not out.exists()


def test_cli_refuses_to_mix_into_an_existing_record_file(tmp_path, capsys):
    out = tmp_path / "old.jsonl"
    out.write_text('{"team": "random", "seed": 0}\n')
    with pytest.raises(SystemExit):
        cli.main(["--team", "random", "--engine", FAKE, "--out", str(out)])
    assert "--resume" in capsys.readouterr().err
    assert out.read_text() == '{"team": "random", "seed": 0}\n'


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"teams": ["random", "randm"]}, TeamError, "unknown seat kind"),
        ({"teams": ["py:arena_players:BrokenConstructor"]}, TeamError, "no config file"),
        ({"games": 0}, UsageError, "at least 1"),
        ({"seed": 2**64 - 1, "games": 2}, UsageError, "do not fit"),
        ({"engine": "no_such_engine_for_arena"}, SetupError, "cannot import the game engine"),
        ({"out": "held.jsonl"}, RecordFileError, "already holds games"),
    ],
)
def test_a_sweep_that_cannot_start_raises_a_typed_error_before_any_game(
    kwargs, error, message, tmp_path
):
    held = tmp_path / "held.jsonl"
    held.write_text('{"team": "random", "seed": 0}\n')
    args = {"teams": ["random"], "games": 2, "engine": FAKE, **kwargs}
    if "out" in args:
        args["out"] = str(tmp_path / args["out"])
    with pytest.raises(error, match=message) as info:
        evaluate(**args, workers=0, progress=False)
    assert isinstance(info.value, ArenaError)
    assert held.read_text() == '{"team": "random", "seed": 0}\n'


def test_a_player_class_is_constructed_once_to_check_it_and_once_per_game(tmp_path):
    log = tmp_path / "constructed.log"
    (tmp_path / "counted.py").write_text(
        "class Bot:\n"
        "    def __init__(self):\n"
        f"        with open({str(log)!r}, 'a') as f:\n"
        "            f.write('x')\n"
        "    def play(self, state):\n"
        "        return state.action_space()[0]\n"
    )
    code = cli.main(
        [
            "--team",
            f"py:{tmp_path / 'counted.py'}:Bot",
            "-n",
            "3",
            "--workers",
            "0",
            "--engine",
            FAKE,
            "--no-progress",
        ]
    )
    assert code == 0
    assert log.read_text() == "x" * (1 + 3)


# --- statistics --------------------------------------------------------------


@pytest.mark.parametrize(
    "wins, n, low, high",
    [
        (7, 10, 0.396778, 0.892209),
        (0, 10, 0.0, 0.277533),
        (10, 10, 0.722467, 1.0),
        (50, 100, 0.403832, 0.596168),
        (1, 1, 0.206549, 1.0),
    ],
)
def test_wilson_interval(wins, n, low, high):
    assert stats.wilson_interval(wins, n) == pytest.approx((low, high), abs=1e-6)


@pytest.mark.parametrize(
    "df, quantile",
    [
        (1, 12.706205),
        (2, 4.302653),
        (4, 2.776445),
        (9, 2.262157),
        (29, 2.045230),
        (1000, 1.962339),
    ],
)
def test_t_quantile(df, quantile):
    assert stats.t_quantile(0.975, df) == pytest.approx(quantile, abs=1e-6)
    assert stats.t_quantile(0.025, df) == pytest.approx(-quantile, abs=1e-6)


@pytest.mark.parametrize(
    "values, expected",
    [
        # mean 3, s = sqrt(2.5), t(4) = 2.776445: half width 1.963243
        ([1, 2, 3, 4, 5], (3.0, 1.036757, 4.963243)),
        # mean 6, s/sqrt(n) = 6, t(1) = 12.706205
        ([0, 12], (6.0, -70.237228, 82.237228)),
        ([4, 4, 4], (4.0, 4.0, 4.0)),
    ],
)
def test_mean_interval(values, expected):
    assert stats.mean_interval(values) == pytest.approx(expected, abs=1e-6)


def test_mean_interval_of_one_or_no_value_has_no_bounds():
    assert stats.mean_interval([5])[0] == 5 and math.isnan(stats.mean_interval([5])[1])
    assert all(math.isnan(v) for v in stats.mean_interval([]))


def test_paired_difference_uses_only_common_games():
    # common games 0, 1, 2: differences 1, 2, 0; mean 1, s = 1, t(2) = 4.302653
    pairs, mean, low, high = stats.paired_difference(
        {0: 1, 1: 2, 2: 3, 7: 0}, {0: 2, 1: 4, 2: 3, 5: 9}
    )
    assert pairs == 3
    assert (mean, low, high) == pytest.approx((1.0, -1.484138, 3.484138), abs=1e-6)


def _record(team, seed, score=None, error=None, decisions=10, seconds=1.0):
    return GameRecord(
        team=team,
        game=seed,
        seed=seed,
        score=score,
        won=score == 12 if score is not None else None,
        error=error,
        seconds=seconds,
        decisions=decisions,
        decision_seconds=seconds / 2,
        actions=decisions,
    )


def test_summary_figures():
    team_a, team_b = parse_team("random,random"), parse_team("mcts,mcts")
    a, b = team_a.name, team_b.name
    records = [
        _record(a, 0, 12),
        _record(a, 1, 3),
        _record(a, 2, 0, seconds=3.0),
        _record(a, 3, error="ValueError: x"),
        _record(b, 0, 5),
        _record(b, 1, 1),
        _record(b, 2, 2),
        _record(b, 3, 4),
        _record(b, 1, 7),  # a later record of the same game replaces the earlier
        _record(b, 99, 12),
    ]  # outside the sweep
    summary = summarise([team_a, team_b], [0, 1, 2, 3, 4], records)
    a, b = summary.teams
    assert (a.planned, a.games, a.errors, a.missing, a.wins) == (5, 3, 1, 1, 1)
    assert a.win_rate == pytest.approx(1 / 3)
    assert a.mean_score == pytest.approx(5.0)
    assert a.histogram == [1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1]
    assert a.seconds_per_game == pytest.approx(5 / 3)
    assert a.seconds_per_decision == pytest.approx(2.5 / 30)
    assert a.score_low == 0.0  # clamped: the t interval reaches below 0
    assert a.error_groups == [{"error": "ValueError: x", "games": 1, "seeds": [3]}]
    assert a.paired is None
    # b - a over games 0..2: 5-12, 7-3, 2-0 = -7, 4, 2
    assert (b.games, b.mean_score) == (4, pytest.approx(4.5))
    assert b.paired.pairs == 3 and b.paired.mean == pytest.approx(-1 / 3)
    _, low, high = stats.mean_interval([-7, 4, 2])
    assert (b.paired.low, b.paired.high) == pytest.approx((max(low, -12), min(high, 12)))
    json.dumps(summary.to_dict())  # nan-free, serialisable


# --- playing -------------------------------------------------------------------


def test_seat_seeds_are_distinct_and_64_bit():
    seeds = {seat_seed(game, seat) for game in range(200) for seat in range(4)}
    assert len(seeds) == 800
    assert all(0 <= s < 2**64 for s in seeds)


def test_paired_deals_give_every_team_the_same_seeds(monkeypatch):
    seen = []

    class Recording(arena_fake_engine.RandomPlayer):
        def __init__(self, seed=None):
            seen.append(seed)
            super().__init__(seed)

    monkeypatch.setattr(arena_fake_engine.players, "RandomPlayer", Recording)
    games = []
    original = arena_fake_engine.VardelicGame.__init__

    def recording_game(self, players, seed=None):
        games.append(seed)
        original(self, players, seed)

    monkeypatch.setattr(arena_fake_engine.VardelicGame, "__init__", recording_game)
    evaluate(["random,random", "random,mcts"], 3, seed=40, workers=0, engine=FAKE, progress=False)
    # teams interleave game by game: (40: team 1, team 2), (41: ...), ...
    assert games == [40, 40, 41, 41, 42, 42]
    expected = []
    for game in (40, 41, 42):
        expected += [seat_seed(game, 0), seat_seed(game, 1), seat_seed(game, 0)]
    assert seen == expected


def _plays(evaluation):
    return [
        (r["team"], r["seed"], r["score"], r["won"], r["actions"], r["decisions"])
        for r in evaluation.records
    ]


def test_random_teams_repeat_exactly_inline_in_a_pool_and_on_dask():
    pytest.importorskip("distributed")
    from vardelic_arena.runner import dask_executor

    teams = ["random,random", "random*3"]
    inline = evaluate(teams, 12, seed=5, workers=0, engine=FAKE, progress=False)
    pooled = [evaluate(teams, 12, seed=5, workers=2, engine=FAKE, progress=False) for _ in range(2)]
    executor, close = dask_executor(local_workers=2)
    try:
        dasked = evaluate(teams, 12, seed=5, executor=executor, engine=FAKE, progress=False)
    finally:
        close()
    assert _plays(pooled[0]) == _plays(pooled[1]) == _plays(inline) == _plays(dasked)
    assert len({r["score"] for r in inline.records}) > 1  # the deals do differ
    other = evaluate(teams, 12, seed=6, workers=0, engine=FAKE, progress=False)
    assert _plays(other) != _plays(inline)


@pytest.mark.parametrize(
    "player, error, decisions, actions",
    [
        ("FailsOnThirdMove", "RuntimeError: bot lost its marbles", 2, 2),
        ("RaisesBaseException", "EngineLikeFailure: That's a lot of damage!", 0, 0),
        ("ReturnsNone", "TypeError", 1, 0),
        ("Exits", "SystemExit: 3", 0, 0),
    ],
)
@pytest.mark.parametrize("workers", [0, 2])
def test_failing_player_is_recorded_and_the_rest_goes_on(
    player, error, decisions, actions, workers
):
    result = evaluate(
        [f"py:arena_players:{player}", "mcts(p=5)"], 6, workers=workers, engine=FAKE, progress=False
    )
    failed = [r for r in result.records if r["error"] is not None]
    assert failed and all(r["team"] == f"py:arena_players:{player}" for r in failed)
    assert all(r["error"].startswith(error) for r in failed)
    assert all((r["decisions"], r["actions"]) == (decisions, actions) for r in failed)
    assert all(r["error_seat"] == (None if player == "ReturnsNone" else 0) for r in failed)
    assert "Traceback" in failed[0]["traceback"]
    bad, good = result.summary.teams
    assert bad.errors == len(failed) and bad.games + bad.errors == 6
    assert good.games == 6 and good.errors == 0


def test_workers_do_not_inherit_locks_held_in_the_parent():
    # A worker forked from a process in which another thread holds a lock (the
    # allocator's, say) would wait for it forever; the pool's workers must
    # start from a clean process instead.
    import arena_players

    with arena_players.HELD:
        result = evaluate(
            ["py:arena_players:NeedsFreeLock"], 4, workers=2, engine=FAKE, progress=False
        )
    assert [r["error"] for r in result.records] == [None] * 4


def test_cli_reports_failed_games_and_exits_1(tmp_path):
    out = tmp_path / "games.jsonl"
    proc = support.cli(
        "--team",
        "py:arena_players:FailsOnThirdMove",
        "--team",
        "random",
        "-n",
        8,
        "-w",
        2,
        "--engine",
        FAKE,
        "--out",
        out,
    )
    assert proc.returncode == 1, proc.stderr
    assert "games failed" in proc.stdout and "bot lost its marbles" in proc.stdout
    records = support.lines(out)
    assert len(records) == 16
    assert any(r["error"] for r in records) and all(
        r["error"] is None for r in records if r["team"] == "random"
    )


def processes_marked(mark: str) -> list[int]:
    """The live processes whose environment holds ARENA_TEST_MARK=mark."""
    found = []
    for entry in Path("/proc").iterdir():
        try:
            if entry.name.isdigit() and f"ARENA_TEST_MARK={mark}".encode() in (
                entry / "environ"
            ).read_bytes().split(b"\0"):
                found.append(int(entry.name))
        except OSError:  # gone meanwhile, or not ours to read
            pass
    return found


@pytest.mark.parametrize("sig, code", [(signal.SIGINT, 130), (signal.SIGTERM, 143)])
def test_interrupted_sweep_resumes_to_the_uninterrupted_table(tmp_path, sig, code):
    args = [
        "--team",
        "random,random",
        "--team",
        "random,py:arena_players:FirstAction",
        "-n",
        40,
        "-w",
        2,
        "--engine",
        FAKE,
        "--no-progress",
    ]
    mark = str(tmp_path)
    interrupted, kept, resumed, final = support.interrupt_then_resume(
        tmp_path, args, min_lines=6, sig=sig, ARENA_FAKE_DELAY="0.004", ARENA_TEST_MARK=mark
    )
    assert interrupted.returncode == code, interrupted.stderr
    assert "--resume" in interrupted.stderr
    # Every worker and the fork server ended with their sweep.
    deadline = time.monotonic() + 10
    while processes_marked(mark) and time.monotonic() < deadline:
        time.sleep(0.05)
    assert processes_marked(mark) == []
    assert 6 <= len(kept) < 80
    assert resumed.returncode == 0, resumed.stderr
    after = support.lines(tmp_path / "sweep.jsonl")
    assert after[: len(kept)] == kept  # appended, nothing rewritten
    assert sorted((r["team"], r["seed"]) for r in after) == sorted(
        (t, s) for t in ("random,random", "random,py:arena_players:FirstAction") for s in range(40)
    )
    whole = support.cli(*args, "--json", tmp_path / "whole.json")
    assert whole.returncode == 0, whole.stderr
    assert final == support.figures(tmp_path / "whole.json")


def test_resume_drops_a_line_cut_off_by_a_kill(tmp_path):
    out = tmp_path / "cut.jsonl"
    first = evaluate(["random"], 4, workers=0, engine=FAKE, progress=False, out=str(out))
    text = out.read_text()
    cut = text[: text.rfind("\n", 0, len(text) - 1) + 1] + text.splitlines()[-1][:20]
    out.write_text(cut)
    again = evaluate(
        ["random"], 4, workers=0, engine=FAKE, progress=False, out=str(out), resume=True
    )
    assert any("incomplete last line" in w for w in again.warnings)
    assert _plays(again) == _plays(first)
    assert len(support.lines(out)) == 4


_FINISHED = GameRecord(
    team="random",
    game=0,
    seed=7,
    score=12,
    won=True,
    error=None,
    seconds=0.5,
    decisions=30,
    decision_seconds=0.25,
    actions=30,
)
_LINE_KEYS = ["team", "game", "seed", "score", "won", "error"]
_COUNT_KEYS = ["decisions", "decision_seconds", "actions"]


@pytest.mark.parametrize(
    "record, keys",
    [
        (_FINISHED, _LINE_KEYS + ["seconds"] + _COUNT_KEYS),
        (
            dataclasses.replace(_FINISHED, decisions=None, decision_seconds=None, actions=None),
            _LINE_KEYS + ["seconds"] + _COUNT_KEYS,
        ),  # --direct: the counts are null
        (
            dataclasses.replace(
                _FINISHED,
                score=None,
                won=None,
                error="ValueError: x",
                traceback="Traceback ...",
                error_seat=1,
                actions=29,
            ),
            _LINE_KEYS + ["traceback", "error_seat", "seconds"] + _COUNT_KEYS,
        ),
        (
            GameRecord(
                team="random",
                game=3,
                seed=9,
                score=None,
                won=None,
                error="the game's process died (BrokenProcessPool)",
                seconds=0.1,
                counts_lost=True,
            ),
            _LINE_KEYS + ["traceback", "error_seat", "seconds"],
        ),
    ],
)
def test_record_lines_keep_their_keys_and_read_back_the_same(record, keys, tmp_path):
    path = tmp_path / "games.jsonl"
    store = RecordFile(str(path), resume=False)
    store.append(record)
    store.close()
    assert list(json.loads(path.read_text())) == keys
    again = RecordFile(str(path), resume=True)
    again.close()
    assert again.records == [record] and not again.warnings
    assert all(record[key] == value for key, value in json.loads(path.read_text()).items())


def test_resume_skips_lines_the_summary_cannot_use(tmp_path):
    path = tmp_path / "games.jsonl"
    good = json.dumps(_FINISHED.to_json())
    path.write_text(
        "\n".join(
            [
                good,
                '{"team": "random", "seed": 1}',  # finished, but no score
                '["random", 2]',
                json.dumps({**_FINISHED.to_json(), "seed": 3, "seconds": "fast"}),
                "{not json",
            ]
        )
        + "\n"
    )
    store = RecordFile(str(path), resume=True)
    store.close()
    assert store.records == [_FINISHED]
    assert [w.split(": ", 1)[0] for w in store.warnings] == [f"{path}:{n}" for n in (2, 3, 4, 5)]


@pytest.mark.parametrize("workers", [1, 2])
def test_a_game_that_kills_its_process_fails_alone(tmp_path, workers):
    # The dead process breaks the shared pool; the games queued with it are played again,
    # each in a process of its own, so only the killer's games fail, and they are recorded.
    out = tmp_path / "broken.jsonl"
    proc = support.cli(
        "--team",
        "random",
        "--team",
        "py:arena_players:KillsWorker",
        "-n",
        6,
        "-w",
        workers,
        "--engine",
        FAKE,
        "--out",
        out,
    )
    assert proc.returncode == 1, proc.stderr
    assert "could not be run" not in proc.stderr
    kept = support.lines(out)
    assert len(kept) == 12
    killed = [r for r in kept if r["team"] != "random"]
    assert len(killed) == 6 and all("process died" in r["error"] for r in killed)
    fresh = evaluate(["random"], 6, workers=0, engine=FAKE, progress=False)
    assert sorted((r["seed"], r["score"]) for r in kept if r["team"] == "random") == [
        (r["seed"], r["score"]) for r in fresh.records
    ]


def test_json_and_plot_outputs(tmp_path):
    image = pytest.importorskip("matplotlib.image")
    proc = support.cli(
        "--team",
        "random,random",
        "--team",
        "mcts(p=10)*2",
        "-n",
        10,
        "-w",
        2,
        "--engine",
        FAKE,
        "--json",
        tmp_path / "s.json",
        "--plot",
        tmp_path / "s.png",
    )
    assert proc.returncode == 0, proc.stderr
    pixels = image.imread(tmp_path / "s.png")
    assert pixels.ndim == 3 and pixels.shape[0] > 200 and pixels.shape[1] > 400
    assert pixels.std() > 0  # not a blank canvas
    data = json.loads((tmp_path / "s.json").read_text())
    first, second = data["teams"]
    assert [first["games"], second["games"]] == [10, 10]
    assert sum(first["histogram"]) == 10 and first["paired"] is None
    assert second["paired"]["pairs"] == 10
    assert second["mean_score"] > first["mean_score"]  # the stand-in search peeks
    assert second["label"] in proc.stdout and "Δ score" in proc.stdout


def test_a_single_team_text_is_one_team():
    assert _plays(evaluate("random,random", 3, workers=0, engine=FAKE, progress=False)) == _plays(
        evaluate(["random,random"], 3, workers=0, engine=FAKE, progress=False)
    )


def test_progress_bar_does_not_disturb_results(capsys):
    quiet = evaluate(["random*2"], 5, workers=1, engine=FAKE, progress=False)
    shown = evaluate(["random*2"], 5, workers=1, engine=FAKE, progress=True)
    assert _plays(quiet) == _plays(shown)
    assert "5/5" in capsys.readouterr().err


def test_dask_flags_need_dask_installed(monkeypatch, capsys):
    monkeypatch.setitem(sys.modules, "distributed", None)
    assert cli.main(["--team", "random", "--dask-local", "1", "--engine", FAKE]) == 2
    assert "pip install 'dask[distributed]'" in capsys.readouterr().err


def test_an_unusable_scheduler_address_is_refused(capsys):
    pytest.importorskip("distributed")
    assert cli.main(["--team", "random", "--scheduler", "bogus://x", "--engine", FAKE]) == 2
    assert "cannot reach the Dask scheduler 'bogus://x'" in capsys.readouterr().err


def test_missing_engine_is_reported_with_how_to_install(capsys):
    assert cli.main(["--team", "random", "--engine", "no_such_engine_for_arena"]) == 2
    err = capsys.readouterr().err
    assert "cannot import the game engine module 'no_such_engine_for_arena'" in err
    assert "pip install" in err
