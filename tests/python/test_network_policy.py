"""The learned policy without search: its numpy network, the player that seats it (shipped
weights or a file), the arena's policy seat, and a short run of examples/imitate_search.py."""

import importlib.util
import itertools
import json
import os
import sys
from pathlib import Path

import numpy as np
import pytest
import vardelic
import vardelic_rl
from vardelic_arena.api import evaluate
from vardelic_arena.errors import TeamError
from vardelic_arena.teams import PolicySeat, check_team, parse_team
from vardelic_rl import NUM_ACTIONS, OBSERVATION_SIZE, NetworkPlayer, NetworkPolicy
from vardelic_rl.network import SHIPPED_NETWORK

ROOT = Path(__file__).resolve().parents[2]


def random_params(rng, widths=(OBSERVATION_SIZE, 24, 16, NUM_ACTIONS)):
    params = {
        "mean": rng.normal(size=OBSERVATION_SIZE),
        "inv_std": rng.uniform(0.5, 2.0, OBSERVATION_SIZE),
    }
    for i, (n_in, n_out) in enumerate(itertools.pairwise(widths)):
        params[f"w{i}"] = rng.normal(0, 1 / np.sqrt(n_in), (n_in, n_out))
        params[f"b{i}"] = rng.normal(0, 0.1, n_out)
    return params


def reference_logits(params, x):
    """The network as its definition reads: standardise, then ReLU layers, the last linear."""
    h = (x - params["mean"]) * params["inv_std"]
    layers = sum(1 for name in params if name.startswith("w"))
    for i in range(layers):
        h = h @ params[f"w{i}"] + params[f"b{i}"]
        if i + 1 < layers:
            h = np.maximum(h, 0)
    return h


def test_the_network_computes_its_definition_and_never_picks_an_illegal_id():
    rng = np.random.default_rng(3)
    params = random_params(rng)
    policy = NetworkPolicy(params)
    x = rng.normal(size=(64, OBSERVATION_SIZE)).astype(np.float32)
    np.testing.assert_allclose(policy.logits(x), reference_logits(params, x), rtol=1e-3, atol=1e-3)
    masks = rng.random((64, NUM_ACTIONS)) < 0.05
    masks[np.arange(64), policy.logits(x).argmax(1)] = False  # the favourite is never legal
    masks[:, 7] = True
    ids = policy.act(x, masks)
    assert masks[np.arange(64), ids].all()
    best = np.where(masks, reference_logits(params, x), -np.inf).argmax(1)
    assert (ids == best).mean() > 0.95  # float32 against float64: ties may differ


@pytest.mark.parametrize(
    "change, message",
    [
        (lambda p: p.pop("mean"), "lack 'mean'"),
        (lambda p: p.pop("b1"), "lack 'b1'"),
        (lambda p: [p.pop(k) for k in ("w0", "b0", "w1", "b1", "w2", "b2")], "no layer"),
        (lambda p: p.update(w1=np.zeros((23, 16))), "layer 1 has shapes"),
        (lambda p: p.update(w2=np.zeros((16, 9)), b2=np.zeros(9)), "not one per id"),
        (lambda p: p.update(mean=np.zeros(5)), "standardises"),
    ],
)
def test_malformed_weights_are_refused_with_what_is_wrong(change, message):
    params = random_params(np.random.default_rng(0))
    change(params)
    with pytest.raises(ValueError, match=message):
        NetworkPolicy(params)


def test_saved_weights_load_to_the_same_decisions_and_player_counts(tmp_path):
    rng = np.random.default_rng(5)
    policy = NetworkPolicy(random_params(rng), player_counts=[3])
    policy.save(tmp_path / "net.npz")
    loaded = NetworkPolicy.load(tmp_path / "net.npz")
    x = rng.normal(size=(32, OBSERVATION_SIZE)).astype(np.float32)
    masks = np.ones((32, NUM_ACTIONS), bool)
    assert loaded.player_counts == (3,)
    np.testing.assert_array_equal(loaded.act(x, masks), policy.act(x, masks))
    (tmp_path / "broken.npz").write_bytes(b"not a zip")
    for bad in ("broken.npz", "missing.npz"):
        with pytest.raises(ValueError, match="cannot read network weights"):
            NetworkPlayer(tmp_path / bad)


@pytest.mark.parametrize("num_players", [1, 2, 3, 4])
def test_the_shipped_policy_plays_legal_games_at_the_counts_it_was_trained_for(num_players):
    player = NetworkPlayer()
    assert player.path == SHIPPED_NETWORK
    if num_players not in player.policy.player_counts:
        game = vardelic.VardelicGame([player] * num_players, 1)
        with pytest.raises(ValueError, match=f"not {num_players} players"):
            game.playout()
        return
    scores = []
    for seed in range(5):
        record = vardelic_rl.play_recorded([NetworkPlayer()] * num_players, seed=seed)
        replayed = record.replay()  # every id it chose was legal where it was played
        assert replayed.done and replayed.reward == record.score
        scores.append(record.score)
    # The same deal gets the same game: the policy holds no randomness.
    again = vardelic_rl.play_recorded([NetworkPlayer()] * num_players, seed=4)
    assert again.moves == record.moves
    assert np.mean(scores) > 2  # random play scores about 1


def test_the_arena_seats_the_policy_from_the_shipped_or_a_given_file(tmp_path, monkeypatch):
    rng = np.random.default_rng(9)
    NetworkPolicy(random_params(rng), player_counts=[2]).save(tmp_path / "mine.npz")
    monkeypatch.chdir(tmp_path)  # a relative path is the one the team text was written from
    mine = parse_team("policy(path=mine.npz)*2")
    assert mine.seats == (PolicySeat(str(tmp_path / "mine.npz")),) * 2
    assert parse_team("policy,policy").name == "policy,policy"
    shipped = NetworkPlayer().policy.player_counts
    run = evaluate([f"policy*{shipped[-1]}"], 2, seed=3, workers=0, progress=False)
    assert all(r["error"] is None and r["decisions"] for r in run.records)
    run = evaluate(["policy(path=mine.npz)*2"], 2, seed=3, workers=0, progress=False)
    assert all(r["error"] is None for r in run.records)


@pytest.mark.parametrize(
    "text, message",
    [
        ("policy(mine.npz)", "takes one setting, path=FILE"),
        ("policy(depth=2)", "takes one setting, path=FILE"),
        ("policy(path=)", "takes one setting, path=FILE"),
        ("policy(path=nowhere.npz)", "cannot read network weights"),
        ("policy(path=mine.npz)*3", "trained for 2 players, and this team has 3"),
    ],
)
def test_policy_seats_that_cannot_play_are_refused_before_any_game(
    tmp_path, monkeypatch, text, message
):
    NetworkPolicy(random_params(np.random.default_rng(1)), player_counts=[2]).save(
        tmp_path / "mine.npz"
    )
    monkeypatch.chdir(tmp_path)
    with pytest.raises(TeamError, match=message):
        check_team(parse_team(text))


@pytest.mark.skipif(bool(os.environ.get("VARDELIC_SANITIZER")), reason="torch is not under test")
def test_imitate_search_example_trains_weights_the_player_reads(tmp_path, capsys):
    torch = pytest.importorskip("torch")
    pytest.importorskip("vardelic_agents")
    spec = importlib.util.spec_from_file_location(
        "imitate_search", ROOT / "examples" / "imitate_search.py"
    )
    example = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = example  # its dataclass and its workers look it up there
    spec.loader.exec_module(example)
    out, curve = tmp_path / "net.npz", tmp_path / "curve.png"
    example.main(
        ["--players", "1,2", "--games", "6", "--rounds", "2", "--iterations", "3", "--epochs", "1"]
        + ["--hidden", "16", "--workers", "1", "--eval-games", "8", "--out", str(out)]
        + ["--curve", str(curve), "--data", str(tmp_path / "data.npz")]
        + ["--history", str(tmp_path / "history.json")]
    )
    printed = capsys.readouterr().out
    assert "round 0:" in printed and "round 1:" in printed and curve.stat().st_size > 0
    player = NetworkPlayer(out)
    assert player.policy.player_counts == (1, 2)
    with np.load(tmp_path / "data.npz") as data:
        labels, masks = data["labels"], data["masks"]
        assert len(labels) > 0 and masks[np.arange(len(labels)), labels].all()  # legal labels
        assert (masks.sum(1) > 1).all()  # forced moves teach nothing and are left out
    # The torch network and the numpy one it exports agree.
    net = example.Net(16, 2, np.zeros(OBSERVATION_SIZE), np.ones(OBSERVATION_SIZE))
    x = np.random.default_rng(0).normal(size=(8, OBSERVATION_SIZE)).astype(np.float32)
    with torch.no_grad():
        expected = net(torch.from_numpy(x)).numpy()
    np.testing.assert_allclose(net.to_policy([2]).logits(x), expected, rtol=1e-4, atol=1e-4)
    record = vardelic_rl.play_recorded([player, player], seed=0)
    assert record.replay().done
    # Going on from saved weights starts from exactly them.
    resumed = example.Net.from_policy(player.policy)
    np.testing.assert_allclose(
        resumed.to_policy([1, 2]).logits(x), player.policy.logits(x), rtol=1e-5, atol=1e-5
    )
    example.main(
        ["--players", "2", "--games", "4", "--rounds", "1", "--iterations", "3", "--epochs", "1"]
        + ["--workers", "1", "--eval-games", "4", "--init", str(out), "--out", str(out)]
        + ["--history", str(tmp_path / "history.json")]
    )
    assert "round 0:" in capsys.readouterr().out and NetworkPlayer(out).policy.player_counts == (2,)
    history = json.loads((tmp_path / "history.json").read_text())
    assert [h["teacher_iterations"] for h in history] == [3, 3, 3]
    assert set(history[0]["scores"]) == {"1", "2"} and set(history[2]["scores"]) == {"2"}
