"""The Gymnasium environment and vector environment: Gymnasium's own checker, the illegal-id
rule, seeding, and one trajectory seen alike through Gymnasium, the vector batch and PettingZoo."""

import subprocess
import sys

import gymnasium
import numpy as np
import pytest
from gymnasium.utils.env_checker import check_env
from vardelic_rl import pettingzoo as vardelic_pettingzoo
from vardelic_rl.gym_env import ENV_ID, VardelicEnv
from vardelic_rl.vector_env import VardelicVectorEnv

PLAYERS = [1, 2, 3, 4]


def legal_ids(mask):
    ids = np.flatnonzero(mask)
    assert len(ids), "a running game always has a legal id"
    return ids


@pytest.mark.filterwarnings("ignore:.*is not legal here")  # the checker steps unmasked
@pytest.mark.parametrize("num_players", PLAYERS)
def test_gymnasium_checker_passes(num_players):
    env = gymnasium.make(ENV_ID, num_players=num_players)
    check_env(env.unwrapped)
    assert env.unwrapped.num_players == num_players
    assert env.observation_space.shape == env.reset(seed=0)[0].shape


@pytest.mark.parametrize("num_players", PLAYERS)
def test_episode_return_is_the_score_and_masks_match_the_game(num_players):
    env = VardelicEnv(num_players=num_players, render_mode="ansi")
    rng = np.random.default_rng(num_players)
    obs, info = env.reset(seed=11)
    total, terminated, steps = 0.0, False, 0
    while not terminated:
        game = env.game
        assert np.array_equal(info["action_mask"], game.action_mask())
        assert np.array_equal(env.action_masks(), game.action_mask() != 0)
        assert info["player"] == game.current_player()
        assert np.array_equal(obs, game.observation(game.current_player()))
        assert env.render() == str(game)
        assert env.observation_space.contains(obs)
        obs, reward, terminated, truncated, info = env.step(
            rng.choice(legal_ids(info["action_mask"]))
        )
        assert not truncated and not info["illegal_action"]
        total += reward
        steps += 1
    assert total == env.game.reward and env.game.done and steps > 1
    assert not info["action_mask"].any() and not env.action_masks().any()
    with pytest.raises(gymnasium.error.ResetNeeded, match="game is over"):
        env.step(0)


def test_illegal_id_changes_nothing_and_is_reported():
    env = VardelicEnv(num_players=2)
    obs, info = env.reset(seed=3)
    before = str(env.game)
    illegal = np.flatnonzero(info["action_mask"] == 0)
    with pytest.warns(UserWarning, match="not legal"):
        result = env.step(illegal[0])
    obs2, reward, terminated, truncated, info2 = result
    assert (reward, terminated, truncated, info2["illegal_action"]) == (0.0, False, False, True)
    assert np.array_equal(obs, obs2) and np.array_equal(info["action_mask"], info2["action_mask"])
    env.step(illegal[1])  # warned once per environment; still counted
    assert str(env.game) == before and env.illegal_actions == 2


@pytest.mark.parametrize(
    "action, error, message",
    [
        (261, ValueError, "out of range"),
        (-1, ValueError, "out of range"),
        (1.0, TypeError, "integer"),
        (True, TypeError, "integer"),
        ("0", TypeError, "integer"),
    ],
)
def test_bad_action_values_raise(action, error, message):
    env = VardelicEnv()
    env.reset(seed=0)
    with pytest.raises(error, match=message):
        env.step(action)


@pytest.mark.parametrize(
    "kwargs, error",
    [
        ({"num_players": 0}, ValueError),
        ({"num_players": 5}, ValueError),
        ({"num_players": 2.0}, TypeError),
        ({"render_mode": "rgb_array_list"}, ValueError),
    ],
)
def test_bad_constructor_arguments_raise(kwargs, error):
    with pytest.raises(error):
        VardelicEnv(**kwargs)
    with pytest.raises(gymnasium.error.ResetNeeded):
        VardelicEnv().step(0)


def test_seeded_reset_repeats_the_whole_sequence_of_deals():
    def deals(env, seed):
        return [str(env.reset(seed=seed)[0].tobytes())] + [
            str(env.reset()[0].tobytes()) for _ in range(4)
        ]

    first, second = deals(VardelicEnv(), 5), deals(VardelicEnv(), 5)
    assert first == second and len(set(first)) > 1
    assert deals(VardelicEnv(), 6) != first


@pytest.mark.parametrize("num_players", [2, 3])
def test_make_vec_builds_the_native_batch_and_refuses_bad_actions(num_players):
    envs = gymnasium.make_vec(
        ENV_ID, num_envs=4, vectorization_mode="vector_entry_point", num_players=num_players
    )
    assert isinstance(envs.unwrapped, VardelicVectorEnv)
    obs, infos = envs.reset(seed=1)
    masks = infos["action_mask"]
    assert obs.shape == (4, envs.single_observation_space.shape[0])
    assert masks.shape == (4, 261) and masks.dtype == np.int8 and infos["_action_mask"].all()
    actions = np.array([legal_ids(m)[0] for m in masks])
    bad = actions.copy()
    bad[2] = np.flatnonzero(masks[2] == 0)[0]
    with pytest.raises(ValueError, match=rf"2.*\b{bad[2]}\b|\b{bad[2]}\b.*2"):
        envs.step(bad)
    for wrong in (actions[:3], actions.astype(np.float32)):
        with pytest.raises(ValueError):
            envs.step(wrong)
    # Nothing moved: the legal batch still steps from the reset position.
    obs2, rewards, _, truncations, infos2 = envs.step(actions)
    reference = VardelicVectorEnv(num_envs=4, num_players=num_players)
    reference.reset(seed=1)
    assert np.array_equal(obs2, reference.step(actions)[0])
    assert rewards.dtype == np.float32 and not truncations.any()
    assert not np.shares_memory(
        obs2, envs.step(np.array([legal_ids(m)[0] for m in infos2["action_mask"]]))[0]
    )


@pytest.mark.parametrize("num_players", PLAYERS)
def test_gymnasium_vector_and_pettingzoo_play_the_same_game(num_players):
    seed = 100 + num_players
    single = VardelicEnv(num_players=num_players)
    batch = VardelicVectorEnv(num_envs=3, num_players=num_players, num_threads=2)
    aec = vardelic_pettingzoo.raw_env(num_players=num_players)
    obs, info = single.reset(seed=seed)
    batch_obs, batch_infos = batch.reset(seed=seed)
    aec.reset(seed=seed)
    rng = np.random.default_rng(seed)
    terminated, total = False, 0.0
    while not terminated:
        seen = aec.observe(aec.agent_selection)
        assert aec.agent_selection == f"player_{info['player']}"
        for other_obs, other_mask in (
            (batch_obs[0], batch_infos["action_mask"][0]),
            (seen["observation"], seen["action_mask"]),
        ):
            assert np.array_equal(obs, other_obs)
            assert np.array_equal(info["action_mask"], other_mask)
        action = rng.choice(legal_ids(info["action_mask"]))
        actions = np.array([action] + [legal_ids(m)[0] for m in batch_infos["action_mask"][1:]])
        obs, reward, terminated, _, info = single.step(action)
        batch_obs, rewards, terminations, _, batch_infos = batch.step(actions)
        aec.step(action)
        assert rewards[0] == reward == aec.rewards["player_0"]
        assert terminations[0] == terminated == aec.terminations["player_0"]
        total += reward
    assert total == single.game.reward


def test_gymnasium_make_imports_the_registering_module_itself():
    # A fresh interpreter, nothing of ours imported: the id names the module to import.
    code = (
        "import gymnasium; env = gymnasium.make('vardelic_rl.gym_env:vardelic/Vardelic-v0', "
        "num_players=3); print(type(env.unwrapped).__name__, env.unwrapped.num_players)"
    )
    done = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, check=False, timeout=120
    )
    assert done.stdout.split() == ["VardelicEnv", "3"], done.stderr


def test_masks_are_int8_where_the_libraries_sample_them_and_bool_for_trainers():
    import vardelic_rl as rl

    env = VardelicEnv(num_players=2)
    _, info = env.reset(seed=3)
    aec = vardelic_pettingzoo.env(num_players=2)
    aec.reset(seed=3)
    seen = aec.observe(aec.agent_selection)["action_mask"]
    envs = VardelicVectorEnv(num_envs=2, num_players=2)
    _, infos = envs.reset(seed=3)
    for mask in (info["action_mask"], seen, infos["action_mask"][0], rl.Game(2, 3).action_mask()):
        assert mask.dtype == np.int8 and mask.shape == (rl.NUM_ACTIONS,)
        assert mask[env.action_space.sample(mask=mask)] == 1
    assert aec.observation_space(aec.agent_selection)["action_mask"].contains(seen)
    for masks in (env.action_masks(), envs.action_masks()):
        assert masks.dtype == np.bool_ and masks.shape[-1] == rl.NUM_ACTIONS
    # The reason for int8: the installed Gymnasium refuses a bool mask. Should this fail, a
    # release lifted the demand and the README's "Masks" rule may become bool throughout.
    with pytest.raises(AssertionError, match="int8"):
        env.action_space.sample(mask=env.action_masks())
