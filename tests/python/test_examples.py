"""The user guide stays true: every script in examples/ runs with short settings and prints what
it promises, every ```python block of README.md runs (in order, in one namespace, as the README
says), and every vardelic-arena command in README.md's ```sh blocks is accepted by the arena."""

import os
import re
import shlex
import subprocess
import sys
from pathlib import Path

import pytest
from vardelic_arena import api, cli

ROOT = Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
README = ROOT / "README.md"


def run_example(name, *args, stdin=None, check=True):
    done = subprocess.run(
        [sys.executable, str(EXAMPLES / name), *map(str, args)],
        capture_output=True,
        text=True,
        input=stdin,
        cwd=ROOT,
        timeout=300,
    )
    if check:
        assert done.returncode == 0, done.stdout + done.stderr
    return done


RESULT = re.compile(
    r"^result: PyGameResult\.(Won|Lost) \(int ([01])\), enemies defeated: (\d+)", re.MULTILINE
)


def check_result(output):
    match = RESULT.search(output)
    assert match, output
    name, number, score = match[1], int(match[2]), int(match[3])
    assert number == (name == "Lost")
    assert (score == 12) == (name == "Won") and 0 <= score <= 12


# --- examples/play_one_game.py ---------------------------------------------


@pytest.mark.parametrize("players", [1, 2, 4])
def test_play_one_game_narrates_every_move(players):
    out = run_example(
        "play_one_game.py", "--players", players, "--seed", 3, "--playouts", 30
    ).stdout
    check_result(out)
    moves = [line for line in out.splitlines() if " | " in line]
    assert moves and moves[0].split(" | ")[0].strip() == "search"  # seat 0 moves first
    seats = {line.split(" | ")[0].strip() for line in moves}
    assert seats <= {"search"} | {f"random{i}" for i in range(1, players)}


def test_play_one_game_quiet_prints_only_the_result():
    out = run_example("play_one_game.py", "--quiet", "--players", 3, "--playouts", 20).stdout
    check_result(out)
    assert len(out.splitlines()) == 1


def test_play_one_game_human_seat_reads_numbers_and_reports_closed_input():
    # Action 0 is always legal while the game runs, so a stream of zeros plays it out.
    done = run_example("play_one_game.py", "--human", "--players", 2, stdin="0\n" * 5000)
    assert "Type number to select an action:" in done.stdout
    check_result(done.stdout)
    closed = run_example("play_one_game.py", "--human", stdin="", check=False)
    assert closed.returncode == 1
    assert "game stopped: Error reading input." in closed.stderr


# --- examples/python_player.py ---------------------------------------------


@pytest.mark.parametrize("players", [1, 2, 3, 4])
def test_heuristic_player_plays_legal_moves_and_beats_random(players):
    # Seeded deals and seeded random seats: the comparison repeats exactly. An illegal answer
    # of the heuristic player would end the run with KeyError.
    out = run_example("python_player.py", "--games", 12, "--players", players).stdout
    scores = dict(re.findall(r"^\s*(.+?): mean score (\d+\.\d+)$", out, re.MULTILINE))
    assert set(scores) == {"random only", "heuristic + random"}, out
    assert float(scores["heuristic + random"]) > float(scores["random only"])


def test_heuristic_player_seats_in_the_arena():
    seat = f"py:{EXAMPLES / 'python_player.py'}:HeuristicPlayer"
    evaluation = api.evaluate(
        [f"{seat},random", "random,random"], games=4, workers=0, progress=False
    )
    assert evaluation.complete
    assert all(r["error"] is None for r in evaluation.records)


# --- examples/compare_teams.py ---------------------------------------------


def test_compare_teams_prints_one_row_per_team_with_paired_differences():
    out = run_example("compare_teams.py", "--games", 4, "--playouts", 20, "--workers", 2).stdout
    rows = [line for line in out.splitlines() if re.match(r"^\d\. ", line)]
    assert [row[:2] for row in rows] == ["1.", "2.", "3."], out
    assert rows[0].rstrip().endswith("reference")
    for row in rows:
        games, wins = map(int, row.split()[2:4])  # after "N." and the label
        assert games == 4 and 0 <= wins <= 4
    for row in rows[1:]:
        assert re.search(r"[+-]\d+\.\d\d \[[+-]\d+\.\d\d, [+-]\d+\.\d\d\]$", row), row
    assert "HeuristicPlayer,random" in rows[1]


# --- examples/inspect_search.py --------------------------------------------


@pytest.mark.parametrize("policy", [None, 2])
def test_inspect_search_table_and_plot(tmp_path, policy):
    png = tmp_path / "decision.png"
    args = ["--playouts", 60, "--samples", 2, "--turn", 1, "--plot", png]
    if policy is not None:
        args += ["--policy", policy]
    out = run_example("inspect_search.py", *args).stdout
    rows = re.findall(
        r"^\s*(\d+)  (.+?)\s+(\d+)\s+(\d+\.\d)%\s+(-?\d+\.\d+|nan)$", out, re.MULTILINE
    )
    assert rows, out
    assert [int(r[0]) for r in rows] == list(range(1, len(rows) + 1))
    visits = [int(r[2]) for r in rows]
    assert visits == sorted(visits, reverse=True)
    assert sum(visits) == 60 * 2  # one thread: exactly playouts x samples
    chosen = re.search(r"^chosen: (.+?)  \(", out, re.MULTILINE)[1]
    assert chosen == rows[0][1].strip()

    import matplotlib.image

    image = matplotlib.image.imread(png)
    assert image.shape[0] > 100 and image.shape[1] > 100
    assert image[..., :3].min() < 0.5  # something was drawn on the white background


def test_inspect_search_refuses_a_turn_after_the_end():
    done = run_example(
        "inspect_search.py", "--players", 1, "--turn", 10_000, "--playouts", 5, check=False
    )
    assert done.returncode == 1 and "ended before turn 10000" in done.stderr


# --- README.md ---------------------------------------------------------------


def fenced(language):
    """(first line number, code) of every ```language block of README.md."""
    blocks, lines = [], README.read_text(encoding="utf-8").splitlines()
    start = None
    for number, line in enumerate(lines, 1):
        if start is None and line.strip() == f"```{language}":
            start, body = number, []
        elif start is not None and line.strip() == "```":
            blocks.append((start + 1, "\n".join(body)))
            start = None
        elif start is not None:
            body.append(line)
    assert start is None, f"README.md: unclosed block at line {start}"
    return blocks


def test_readme_python_blocks_run(capsys):
    blocks = fenced("python")
    assert blocks
    namespace = {"__name__": "readme"}
    for line, code in blocks:
        # Blank lines in front keep tracebacks pointing at README.md's own line numbers.
        exec(compile("\n" * (line - 1) + code, str(README), "exec"), namespace)
    out = capsys.readouterr().out
    assert "engine failure: Could not determine policy from number '1'" in out
    for name in ("ValueError", "OverflowError", "TypeError", "KeyError"):
        assert re.search(rf"^{name} ", out, re.MULTILINE), name


def arena_commands():
    for _, code in fenced("sh"):
        for command in code.replace("\\\n", " ").splitlines():
            for part in command.split("&&"):
                argv = shlex.split(part, comments=True)
                if argv and argv[0] == "vardelic-arena":
                    yield argv[1:]


@pytest.mark.parametrize("argv", list(arena_commands()), ids=" ".join)
def test_readme_arena_commands_are_accepted(argv, monkeypatch):
    monkeypatch.chdir(ROOT)  # py: seats name files relative to the repository
    args = cli.build_parser().parse_args(argv)
    api.prepare_teams(args.team)  # imports and constructs py: players, as a run would
    api.sweep_seeds(args.seed, args.games)


def test_readme_names_the_scripts_that_exist():
    text = README.read_text(encoding="utf-8")
    named = set(re.findall(r"examples/(\w+\.py)", text))
    assert named == {p.name for p in EXAMPLES.glob("*.py")}
    assert os.access(ROOT / "tools" / "test-all", os.R_OK)
