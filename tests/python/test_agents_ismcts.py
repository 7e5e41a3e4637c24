"""ISMCTSPlayer through the Python player protocol, and its arena seat."""

import pickle
import statistics
import threading
import time
from pathlib import Path

import pytest
from vardelic_arena import evaluate, parse_team
from vardelic_arena.teams import ISMCTSSeat, TeamError, check_team, seat_help

vardelic = pytest.importorskip("vardelic")
agents = pytest.importorskip("vardelic_agents")

ISMCTSPlayer = agents.ISMCTSPlayer


class Logged:
    """Seats a player and keeps every (state's legal actions, chosen action) pair."""

    def __init__(self, player):
        self.player = player
        self.turns = []

    def play(self, state):
        action = self.player.play(state)
        self.turns.append((state.action_space(), action))
        return action


def test_package_exports_the_player():
    assert agents.__all__ == ["ClairvoyantPlayer", "ISMCTSPlayer"]
    assert "ISMCTSPlayer(iterations=7, threads=2, seed=3" in repr(
        ISMCTSPlayer(iterations=7, threads=2, seed=3)
    )


@pytest.mark.parametrize("num_players", [1, 2, 3, 4])
def test_whole_games_are_legal_beside_builtin_players(num_players):
    seats = [Logged(ISMCTSPlayer(iterations=40, seed=i)) for i in range(num_players)]
    mixed = [seats[0]] + [vardelic.players.RandomPlayer(seed=1)] * (num_players - 1)
    for table in (seats, mixed):
        game = vardelic.VardelicGame(table, 11)
        result = game.playout()
        assert (int(result) == 0) == (game.reward() == 12)  # 0: Won
    for seat in seats:
        for legal, action in seat.turns:
            assert action in legal


def test_play_ranks_every_legal_action_with_the_choice_first(solo_state):
    player = ISMCTSPlayer(iterations=300, seed=5, reuse=False)
    assert player.ranked_actions() == []
    action = player.play(state=solo_state)
    ranked = player.ranked_actions()
    assert ranked[0][0] == action
    assert sorted(map(str, (a for a, _, _ in ranked))) == sorted(
        map(str, solo_state.action_space())
    )
    assert sum(visits for _, visits, _ in ranked) == 300
    assert [v for _, v, _ in ranked] == sorted((v for _, v, _ in ranked), reverse=True)
    info = player.last_decision()
    assert info["iterations"] == 300 and info["reused_visits"] == 0


def test_a_seeded_player_repeats_its_games():
    def game(seed):
        seats = [Logged(ISMCTSPlayer(iterations=60, seed=seed)) for _ in range(2)]
        vardelic.VardelicGame(seats, 4).playout()
        return [str(action) for seat in seats for _, action in seat.turns]

    assert game(9) == game(9)


def test_time_budget_bounds_a_decision(solo_state):
    player = ISMCTSPlayer(time_ms=30)
    start = time.perf_counter()
    player.play(solo_state)
    elapsed = (time.perf_counter() - start) * 1000
    assert 30 <= player.last_decision()["milliseconds"] <= elapsed
    assert elapsed < 30 * 5 + 200
    assert player.last_decision()["iterations"] > 1


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"time_ms": 0}, ValueError, "time_ms must be a positive"),
        ({"time_ms": float("inf")}, ValueError, "time_ms must be a positive"),
        ({"iterations": 0}, ValueError, "iterations must be at least 1"),
        ({"iterations": -5}, ValueError, "iterations must be between 0 and"),
        ({"iterations": 2.5}, TypeError, "iterations must be an int"),
        ({"threads": 0}, ValueError, "threads must be at least 1"),
        ({"threads": 1000}, ValueError, "threads must be between 1 and 256"),
        ({"seed": 2**64}, ValueError, "seed must be between 0 and"),
        ({"exploration": -0.1}, ValueError, "exploration must be"),
        ({"epsilon": 2}, ValueError, "epsilon must be between 0 and 1"),
        ({"rollout": "greedy"}, ValueError, "rollout must be 'heuristic' or 'random'"),
        ({"horizon": 0}, ValueError, "horizon must be at least 1"),
        ({"horizon": 12}, ValueError, "horizon must be between 1 and 11, or None"),
        ({"horizon": 2**70}, ValueError, "horizon must be between 0 and"),
        ({"horizon": 1.5}, TypeError, "horizon must be an int"),
        ({"heuristic": "best"}, ValueError, "heuristic must be 'first' or 'tuned', not 'best'"),
        ({"widening": 1}, TypeError, "incompatible function arguments"),
        ({"budget": 3}, TypeError, "incompatible function arguments"),
    ],
)
def test_bad_settings_are_refused(kwargs, error, message):
    with pytest.raises(error, match=message):
        ISMCTSPlayer(**kwargs)


def test_settings_are_keyword_only_and_play_wants_a_state():
    with pytest.raises(TypeError):
        ISMCTSPlayer(100)
    with pytest.raises(TypeError, match="PyState"):
        ISMCTSPlayer(iterations=5).play(state="not a state")


def test_a_deciding_player_refuses_a_second_caller(solo_state):
    player = ISMCTSPlayer(time_ms=1500)
    worker = threading.Thread(target=player.play, args=(solo_state,))
    worker.start()
    refused = None
    deadline = time.monotonic() + 1.0
    while refused is None and time.monotonic() < deadline:
        try:
            player.ranked_actions()
        except RuntimeError as err:
            refused = err
    worker.join()
    assert refused is not None and "already deciding" in str(refused)
    assert player.ranked_actions()  # usable again afterwards


def test_search_beats_random_play_on_a_few_deals():
    def mean_score(make):
        scores = []
        for seed in range(6):
            game = vardelic.VardelicGame([make(i) for i in range(2)], 500 + seed)
            game.playout()
            scores.append(game.reward())
        return statistics.mean(scores)

    searched = mean_score(lambda i: ISMCTSPlayer(iterations=300, seed=i))
    random = mean_score(lambda i: vardelic.players.RandomPlayer(seed=i))
    assert searched >= random + 3, (searched, random)


# --- the arena seat -------------------------------------------------------


@pytest.mark.parametrize(
    "text, settings",
    [
        ("ismcts", ()),
        ("ismcts()", ()),
        ("ISMCTS(time_ms=20)", (("time_ms", 20.0),)),
        ("ismcts(threads=2, iterations=5000)", (("iterations", 5000), ("threads", 2))),
        ("ismcts(horizon=2,time_ms=20)", (("time_ms", 20.0), ("horizon", 2))),
        ("ismcts(heuristic=tuned)", (("heuristic", "tuned"),)),
        (
            "ismcts(rollout=Random,widening=off,reuse=true,epsilon=0,seed=4)",
            (
                ("seed", 4),
                ("rollout", "random"),
                ("epsilon", 0.0),
                ("widening", False),
                ("reuse", True),
            ),
        ),
    ],
)
def test_ismcts_seats_parse_and_round_trip(text, settings):
    team = parse_team(text + ",random")
    assert team.seats[0] == ISMCTSSeat(settings)
    assert parse_team(team.name) == team
    assert parse_team("ismcts(time_ms=20.0)").name == "ismcts(time_ms=20)"


@pytest.mark.parametrize(
    "text, message",
    [
        ("ismcts(time_ms)", "needs the form KEY=VALUE"),
        ("ismcts(depth=3)", "unknown ismcts setting 'depth'"),
        ("ismcts(time_ms=1,time_ms=2)", "given twice"),
        ("ismcts(iterations=many)", "not a number"),
        ("ismcts(reuse=maybe)", "must be true or false"),
        ("ismcts[3]", "cannot read"),
    ],
)
def test_unreadable_ismcts_seats_are_refused(text, message):
    with pytest.raises(TeamError, match=message):
        parse_team(text)


@pytest.mark.parametrize(
    "text, message",
    [
        ("ismcts(iterations=0)", "iterations must be at least 1"),
        ("ismcts(rollout=greedy)", "rollout must be"),
        ("ismcts(threads=0)", "threads must be at least 1"),
        ("ismcts(horizon=40)", "horizon must be between 1 and 11"),
    ],
)
def test_settings_the_player_refuses_are_refused_before_any_game(text, message):
    with pytest.raises(TeamError, match=message):
        check_team(parse_team(text))


def test_arena_plays_ismcts_seats_repeatably():
    teams = ["ismcts(iterations=30),random", "ismcts(iterations=30)*3"]
    runs = [evaluate(teams, 2, seed=8, workers=0, progress=False) for _ in range(2)]
    plays = [
        [(r["team"], r["seed"], r["score"], r["actions"]) for r in run.records] for run in runs
    ]
    assert plays[0] == plays[1]
    assert all(r["error"] is None and r["decisions"] > 0 for r in runs[0].records)


# --- one description of the settings ----------------------------------------


def test_the_settings_table_is_the_constructors_own():
    settings = ISMCTSPlayer.SETTINGS
    assert pickle.loads(pickle.dumps(settings)) == settings  # e.g. to a worker process
    defaults = {s.name: s.default for s in settings}
    assert repr(ISMCTSPlayer(**{**defaults, "iterations": 9})) == repr(ISMCTSPlayer(iterations=9))
    ((signature, _, _),) = ISMCTSPlayer.__init__.__nb_signature__
    assert (
        signature
        == "def __init__(self, *, "
        + ", ".join(f"{s.name}: {s.type} = {s.default!r}" for s in settings)
        + ") -> None"
    )
    for setting in settings:
        assert setting.name in ISMCTSPlayer.__doc__ and setting.help in ISMCTSPlayer.__doc__


def test_the_readme_table_agrees_with_the_settings():
    readme = (Path(__file__).resolve().parents[2] / "README.md").read_text()
    table = readme.split("| Setting | Default | Meaning |\n|---|---|---|\n", 1)[1].split("\n\n")[0]
    rows = [line.split(" | ")[:2] for line in table.splitlines()]
    assert [(name.strip("| `"), default.strip("`")) for name, default in rows] == [
        (s.name, repr(s.default)) for s in ISMCTSPlayer.SETTINGS
    ]


@pytest.mark.parametrize("setting", ISMCTSPlayer.SETTINGS, ids=lambda s: s.name)
def test_the_arena_seat_reads_every_setting_from_the_table(setting):
    text = str(setting.default).lower()  # None, True, 1, 0.5, heuristic as a team text writes them
    seat = parse_team(f"ismcts({setting.name}={text})").seats[0]
    assert seat == ISMCTSSeat(((setting.name, setting.default),))
    assert parse_team(seat.canonical()).seats[0] == seat
    seat.build(0)  # the player takes what the seat read
    help_text = seat_help()
    assert f"{setting.name}={setting.check}" in help_text
    with pytest.raises(TeamError, match=", ".join(s.name for s in ISMCTSPlayer.SETTINGS)):
        parse_team("ismcts(budget=3)")
