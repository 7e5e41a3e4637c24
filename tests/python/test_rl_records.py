"""Game records: recorded games replay exactly, survive JSON, and refuse what does not fit."""

import json

import pytest
import vardelic
import vardelic_rl as rl
from vardelic_agents import ISMCTSPlayer
from vardelic_arena import cli
from vardelic_rl import GameRecord

PLAYERS = [1, 2, 3, 4]


def recorded_games(num_players):
    """Records of seeded random games and of one seeded ISMCTS game."""
    for seed in range(6):
        seats = [vardelic.players.RandomPlayer(seed=seed * 10 + i) for i in range(num_players)]
        yield rl.play_recorded(seats, seed=seed)
    seats = [ISMCTSPlayer(iterations=30, seed=i) for i in range(num_players)]
    yield rl.play_recorded(seats, seed=99)


@pytest.mark.parametrize("num_players", PLAYERS)
def test_recorded_games_replay_to_their_moves_result_and_score(num_players):
    for record in recorded_games(num_players):
        assert record.result in ("Won", "Lost") and record.moves
        game = record.replay()
        assert game.done and game.moves == list(record.moves)
        assert (game.result.name, game.reward) == (record.result, record.score)
        assert game.record(seats=record.seats) == record
        assert GameRecord.from_json(record.to_json()) == record
        assert json.loads(json.dumps(record.to_dict())) == record.to_dict()
        # A partial replay stops where asked, and its record is that of a game going on.
        half = record.replay(upto=len(record.moves) // 2)
        assert half.moves == list(record.moves[: len(record.moves) // 2])
        assert half.record().result is None or len(record.moves) < 2


@pytest.mark.parametrize("num_players", PLAYERS)
def test_a_changed_move_fails_at_its_index(num_players):
    record = next(recorded_games(num_players))
    for index in (0, len(record.moves) // 2, len(record.moves) - 1):
        before = record.replay(upto=index)
        legal = sorted(before.legal_actions())
        wrong = next(i for i in range(rl.NUM_ACTIONS) if i not in legal)
        moves = list(record.moves)
        moves[index] = wrong
        changed = GameRecord(num_players, record.seed, record.seats, moves, record.result, 0)
        with pytest.raises(ValueError, match=rf"^move {index}: action id {wrong} is not legal"):
            changed.replay()
        with pytest.raises(ValueError, match=r"legal ids: \[" + ", ".join(map(str, legal[:3]))):
            changed.replay()
    # Legal moves throughout, but the record claims another ending.
    other = GameRecord(num_players, record.seed, record.seats, record.moves, "Won", 12)
    with pytest.raises(ValueError, match="the replay ends with result Lost"):
        other.replay()


def test_games_without_a_seed_draw_one_that_replays():
    game = rl.Game(2)
    assert isinstance(game.seed, int) and game.seed != rl.Game(2).seed
    while not game.done:
        game.step(min(game.legal_actions()))
    assert game.record().replay().moves == game.moves
    record = rl.play_recorded([vardelic.players.RandomPlayer(seed=1)])
    assert record.replay().reward == record.score


GOOD = {"version": 1, "num_players": 1, "seed": 3, "seats": ["a"], "moves": [], "result": None,
        "score": 0}  # fmt: skip


@pytest.mark.parametrize(
    ("change", "message"),
    [
        ({"version": 2}, "'version' is 2"),
        ({"version": "1"}, "'version' is '1'"),
        ({"num_players": 5}, "'num_players'"),
        ({"seed": -1}, "'seed'"),
        ({"seed": 2**64}, "'seed'"),
        ({"seed": True}, "'seed'"),
        ({"seats": "a"}, "'seats'"),
        ({"seats": ["a", "b"]}, "'seats'"),
        ({"moves": [1, "2"]}, r"'moves\[1\]'"),
        ({"moves": [261]}, r"'moves\[0\]'"),
        ({"moves": {"0": 1}}, "'moves'"),
        ({"result": "won"}, "'result'"),
        ({"score": 13}, "'score'"),
        ({"score": 1.0}, "'score'"),
    ],
)
def test_bad_saved_records_name_their_field(change, message):
    with pytest.raises(ValueError, match=message):
        GameRecord.from_json(json.dumps({**GOOD, **change}))


@pytest.mark.parametrize("missing", list(GOOD))
def test_a_missing_field_is_named(missing):
    data = {k: v for k, v in GOOD.items() if k != missing}
    with pytest.raises(ValueError, match=f"'{missing}' is missing"):
        GameRecord.from_json(json.dumps(data))
    with pytest.raises(ValueError, match="must be JSON"):
        GameRecord.from_json("{")


def test_arena_records_round_trip_and_resume(tmp_path):
    out, replays = tmp_path / "games.jsonl", tmp_path / "replays.jsonl"
    teams = ["--team", "random,random", "--team", "ismcts(iterations=20),random"]
    args = [*teams, "-n", "3", "--workers", "0", "--no-progress", "--out", str(out)]
    assert cli.main([*args, "--records", str(replays)]) == 0
    lines = replays.read_text().splitlines()
    results = [json.loads(line) for line in out.read_text().splitlines()]
    assert len(lines) == len(results) == 6
    for line, result in zip(lines, results, strict=True):
        record = GameRecord.from_json(line)
        assert ",".join(record.seats) == result["team"] and record.seed == result["seed"]
        assert record.score == result["score"]
        assert record.replay().reward == result["score"]  # checks the result too

    # A sweep cut short after the replay line of its last game: resuming plays that game
    # again and writes no second replay line for it.
    out.write_text("\n".join(out.read_text().splitlines()[:-1]) + "\n")
    with open(replays, "a") as f:
        f.write('{"version": 1, "num_pla')
    assert cli.main([*args, "--records", str(replays), "--resume"]) == 0
    assert replays.read_text().splitlines() == lines


@pytest.mark.parametrize(
    ("extra", "message"),
    [
        ([], "already holds records"),
        (["--out", "{replays}"], "a file of its own"),
        (["--engine", "json"], "needs the vardelic engine"),
    ],
)
def test_arena_refuses_a_records_file_it_cannot_keep(extra, message, tmp_path, capsys):
    replays = tmp_path / "replays.jsonl"
    replays.write_text("{}\n" if not extra else "")
    extra = [arg.format(replays=replays) for arg in extra]
    with pytest.raises(SystemExit):
        cli.main(["--team", "random", "-n", "1", "--records", str(replays), *extra])
    assert message in capsys.readouterr().err
