"""Arena end to end on the real extension module."""

import json
import shutil
import sys
from pathlib import Path

import pytest

vardelic = pytest.importorskip("vardelic")

sys.path.insert(0, str(Path(__file__).resolve().parent))
import arena_support as support  # noqa: E402  (found through the path set above)
from vardelic_arena import Team, evaluate, seat_seed  # noqa: E402
from vardelic_arena.teams import MCTSSeat  # noqa: E402


def _plays(evaluation):
    return [(r["team"], r["seed"], r["score"], r["won"], r["actions"]) for r in evaluation.records]


def test_console_script_end_to_end_with_a_small_search_team(tmp_path):
    image = pytest.importorskip("matplotlib.image")
    script = shutil.which("vardelic-arena")
    cmd = [script] if script else None
    out = tmp_path / "games.jsonl"
    proc = support.cli(
        "--team",
        "mcts(playouts=20,threads=1),random",
        "--team",
        "random,random",
        "-n",
        4,
        "-w",
        2,
        "--out",
        out,
        "--json",
        tmp_path / "s.json",
        "--plot",
        tmp_path / "s.png",
        cmd=cmd,
        timeout=300,
    )
    assert proc.returncode == 0, proc.stderr
    assert "mcts(p=20),random" in proc.stdout
    records = support.lines(out)
    assert len(records) == 8 and all(r["error"] is None for r in records)
    for record in records:
        assert 0 <= record["score"] <= 12
        assert record["won"] == (record["score"] == 12)
        assert record["actions"] == record["decisions"] > 0
    data = json.loads((tmp_path / "s.json").read_text())
    search, rand = data["teams"]
    assert search["games"] == rand["games"] == 4
    assert sum(search["histogram"]) == 4
    assert search["seconds_per_decision"] > 0 and search["decisions_per_game"] > 0
    assert rand["paired"]["pairs"] == 4
    assert image.imread(tmp_path / "s.png").ndim == 3


def test_random_teams_repeat_exactly_inline_in_a_pool_and_on_dask():
    pytest.importorskip("distributed")
    from vardelic_arena.runner import dask_executor

    teams = ["random,random", "random*4", "random"]
    inline = evaluate(teams, 10, seed=3, workers=0, progress=False)
    pooled = [evaluate(teams, 10, seed=3, workers=2, progress=False) for _ in range(2)]
    executor, close = dask_executor(local_workers=2)
    try:
        dasked = evaluate(teams, 10, seed=3, executor=executor, progress=False)
    finally:
        close()
    assert _plays(inline) == _plays(pooled[0]) == _plays(pooled[1]) == _plays(dasked)
    assert len({r["score"] for r in inline.records}) > 1


def test_counting_seats_play_as_the_builtin_players_would():
    direct = evaluate(["random,random,random"], 8, seed=11, workers=0, progress=False, direct=True)
    counted = evaluate(["random,random,random"], 8, seed=11, workers=0, progress=False)
    assert [r["score"] for r in direct.records] == [r["score"] for r in counted.records]
    assert all(r["decisions"] is None for r in direct.records)
    by_hand = []
    for seed in range(11, 19):
        game = vardelic.VardelicGame(
            [vardelic.players.RandomPlayer(seed=seat_seed(seed, i)) for i in range(3)], seed
        )
        game.playout()
        by_hand.append(game.reward())
    assert [r["score"] for r in counted.records] == by_hand


def test_failing_players_are_recorded_and_the_rest_goes_on():
    # threads=0 is refused on the command line; passed as a Team it makes the
    # engine fail with its BaseException-derived internal error.
    broken = Team((MCTSSeat(playouts=5, threads=0),))
    result = evaluate(
        [broken, "py:arena_players:FailsOnThirdMove", "random,random"], 4, workers=2, progress=False
    )
    engine_fail, user_fail, fine = result.summary.teams
    assert engine_fail.errors == 4
    assert "num_threads" in engine_fail.error_groups[0]["error"]
    assert user_fail.errors >= 1
    assert "bot lost its marbles" in user_fail.error_groups[0]["error"]
    assert fine.games == 4 and fine.errors == 0


def test_interrupted_sweep_resumes_to_the_uninterrupted_table(tmp_path):
    args = [
        "--team",
        "random,random",
        "--team",
        "py:arena_players:SlowFirstAction,random",
        "-n",
        30,
        "-w",
        2,
        "--no-progress",
    ]
    interrupted, kept, resumed, final = support.interrupt_then_resume(tmp_path, args, min_lines=4)
    assert interrupted.returncode == 130, interrupted.stderr
    assert 4 <= len(kept) < 60
    assert resumed.returncode == 0, resumed.stderr
    whole = support.cli(*args, "--json", tmp_path / "whole.json")
    assert whole.returncode == 0, whole.stderr
    assert final == support.figures(tmp_path / "whole.json")
