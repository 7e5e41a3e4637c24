"""The numpy policy and its training: the loss gradients against finite differences, the masked
softmax, a short run of examples/train_policy.py, and the trained player in a game and the arena."""

import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
import vardelic
from vardelic_arena import api
from vardelic_rl.agent import (
    NUM_ACTIONS,
    WEIGHTS_VARIABLE,
    MaskedSoftmaxPolicy,
    TrainedPlayer,
    masked_softmax,
)
from vardelic_rl.train import Settings, gradients

ROOT = Path(__file__).resolve().parents[2]


def test_masked_softmax_gives_illegal_ids_nothing():
    rng = np.random.default_rng(0)
    logits = rng.normal(size=(3, NUM_ACTIONS)) * 50
    masks = np.zeros((3, NUM_ACTIONS), np.int8)
    masks[0, [0, 7, 260]] = 1
    masks[1, 5] = 1
    p = masked_softmax(logits, masks)
    assert np.allclose(p[:2].sum(axis=1), 1) and (p[masks == 0] == 0).all()
    assert p[1, 5] == 1 and not p[2].any()  # a row without legal ids stays all zero


@pytest.mark.parametrize("greedy", [True, False])
def test_the_policy_takes_bool_and_int8_masks_alike(greedy):
    rng = np.random.default_rng(4)
    policy = MaskedSoftmaxPolicy.initial(6, hidden=4, seed=2, mean=np.zeros(6), std=np.ones(6))
    policy.greedy = greedy
    policy.params["w2"] = rng.normal(size=policy.params["w2"].shape)
    observation, mask = rng.normal(size=6), rng.random(NUM_ACTIONS) < 0.1
    chosen = {dtype: [] for dtype in (bool, np.int8)}
    for dtype in chosen:
        policy.rng = np.random.default_rng(0)
        chosen[dtype] = [policy(observation, mask.astype(dtype)) for _ in range(20)]
    assert chosen[bool] == chosen[np.int8] and all(mask[chosen[bool]])


def test_loss_gradients_match_finite_differences():
    rng = np.random.default_rng(1)
    size, rows = 6, 5
    policy = MaskedSoftmaxPolicy.initial(
        size, hidden=4, seed=2, mean=rng.normal(size=size), std=rng.uniform(0.5, 2, size)
    )
    for name in ("w2", "b2", "wv"):
        policy.params[name] = rng.normal(size=policy.params[name].shape)
    obs = rng.normal(size=(rows, size))
    masks = (rng.random((rows, NUM_ACTIONS)) < 0.05).astype(np.int8)
    masks[:, 3] = 1
    actions = np.array([np.flatnonzero(m)[-1] for m in masks])
    advantages, returns = rng.normal(size=rows), rng.normal(size=rows)
    weights = np.array([1.0, 1.0, 0.0, 1.0, 1.0])  # a row out of the loss changes nothing
    settings = Settings(entropy=0.05, value=0.5, max_grad_norm=1e9)

    def loss():
        _, _, logits, values = policy.forward(obs)
        p = masked_softmax(logits, masks)
        logp = np.log(np.where(p > 0, p, 1))
        w = weights / weights.sum()
        chosen = logp[np.arange(rows), actions]
        entropy = -(p * logp).sum(axis=1)
        return (
            w
            * (
                -advantages * chosen
                - settings.entropy * entropy
                + settings.value * (values - returns) ** 2
            )
        ).sum()

    grads, _ = gradients(policy, obs, masks, actions, advantages, returns, weights, settings)
    for name, grad in grads.items():
        param = policy.params[name]
        for index in list(np.ndindex(param.shape))[:12]:
            saved = param[index]
            param[index] = saved + 1e-6
            up = loss()
            param[index] = saved - 1e-6
            down = loss()
            param[index] = saved
            assert grad[index] == pytest.approx((up - down) / 2e-6, rel=1e-4, abs=1e-7), name


def test_loading_refuses_weights_of_the_wrong_shape(tmp_path):
    policy = MaskedSoftmaxPolicy.initial(10, hidden=3)
    policy.params["b2"] = np.zeros(7)
    np.savez(tmp_path / "bad.npz", **policy.params)
    with pytest.raises(ValueError, match="b2"):
        MaskedSoftmaxPolicy.load(tmp_path / "bad.npz")


def test_training_example_writes_a_curve_and_weights_that_play(tmp_path, monkeypatch):
    weights, curve = tmp_path / "policy.npz", tmp_path / "curve.png"
    done = subprocess.run(
        [
            sys.executable,
            str(ROOT / "examples" / "train_policy.py"),
            "--iterations",
            "4",
            "--envs",
            "16",
            "--horizon",
            "8",
            "--hidden",
            "8",
            "--no-progress",
            "--out",
            str(weights),
            "--curve",
            str(curve),
        ],
        check=False,
        capture_output=True,
        text=True,
        timeout=300,
        cwd=tmp_path,
    )
    assert done.returncode == 0, done.stdout + done.stderr
    assert "trained 4 iterations" in done.stdout
    assert curve.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"

    player = TrainedPlayer(weights)
    assert player.policy.params["w1"].shape[1] == 8
    for seed in range(3):
        game = vardelic.VardelicGame([player, player], seed=seed)
        game.playout()  # every answer is a legal action, or playout() raises
        assert 0 <= game.reward() <= 12

    monkeypatch.setenv(WEIGHTS_VARIABLE, str(weights))
    monkeypatch.chdir(ROOT)
    teams = api.prepare_teams(["py:vardelic_rl.agent:TrainedPlayer*2"])
    assert teams[0].players == 2
