"""The PettingZoo AEC environment: PettingZoo's own test kits, and what they do not check: hidden
masks, the shared reward, and the illegal-id rules of raw_env and env()."""

import numpy as np
import pytest
from pettingzoo.test import api_test, render_test, seed_test
from vardelic_rl import pettingzoo as vardelic_pettingzoo

PLAYERS = [1, 2, 3, 4]


@pytest.mark.filterwarnings("ignore")  # the kit's advice (dict observations, all-zero masks)
@pytest.mark.parametrize("num_players", PLAYERS)
def test_pettingzoo_kits_pass(num_players, capsys):
    api_test(vardelic_pettingzoo.env(num_players=num_players), num_cycles=300)
    seed_test(lambda: vardelic_pettingzoo.env(num_players=num_players), num_cycles=100)
    render_test(
        lambda render_mode=None: vardelic_pettingzoo.env(
            num_players=num_players, render_mode=render_mode
        )
    )
    assert capsys.readouterr().out.count("Passed API test") == 1


@pytest.mark.parametrize("num_players", PLAYERS)
def test_only_the_mover_sees_a_mask_and_every_agent_shares_the_reward(num_players):
    env = vardelic_pettingzoo.env(num_players=num_players)
    env.reset(seed=num_players)
    rng = np.random.default_rng(0)
    game = env.unwrapped.game
    total = dict.fromkeys(env.possible_agents, 0.0)
    for agent in env.agent_iter():
        obs, reward, terminated, truncated, _ = env.last()
        assert isinstance(terminated, bool) and isinstance(truncated, bool)
        total[agent] += reward
        if terminated:
            env.step(None)
            continue
        for other in env.agents:
            seen = env.observe(other)
            player = int(other.split("_")[1])
            assert np.array_equal(seen["observation"], game.observation(player))
            assert seen["action_mask"].dtype == np.int8
            assert seen["action_mask"].any() == (other == agent)
        assert np.array_equal(obs["action_mask"], game.action_mask())
        env.step(rng.choice(np.flatnonzero(obs["action_mask"])))
        assert set(env.rewards.values()) == {env.rewards[agent]}  # shared
    assert env.agents == [] and game.done
    assert set(total.values()) == {float(game.reward)}


def test_raw_env_refuses_an_illegal_id_and_keeps_the_game():
    env = vardelic_pettingzoo.raw_env(num_players=2)
    env.reset(seed=4)
    mask = env.observe(env.agent_selection)["action_mask"]
    before, agent = str(env.game), env.agent_selection
    with pytest.raises(ValueError, match=str(np.flatnonzero(mask == 0)[0])):
        env.step(np.flatnonzero(mask == 0)[0])
    with pytest.raises(ValueError, match="None"):
        env.step(None)
    assert str(env.game) == before and env.agent_selection == agent
    assert not any(env.terminations.values())


def test_wrapped_env_ends_the_game_on_an_illegal_id(caplog):
    env = vardelic_pettingzoo.env(num_players=3)
    env.reset(seed=5)
    obs, *_ = env.last()
    culprit = env.agent_selection
    env.step(np.flatnonzero(obs["action_mask"] == 0)[0])
    assert "Illegal move" in caplog.text
    assert all(env.terminations.values())
    assert env.rewards[culprit] == vardelic_pettingzoo.ILLEGAL_REWARD
    assert {reward for agent, reward in env.rewards.items() if agent != culprit} == {0}
    env.reset(seed=5)
    with pytest.raises(AssertionError):  # outside the action space
        env.step(261)


def test_calls_out_of_order_and_bad_arguments_raise():
    with pytest.raises(Exception, match="reset"):
        vardelic_pettingzoo.env().step(0)
    with pytest.raises(ValueError, match="1-4"):
        vardelic_pettingzoo.env(num_players=5)
    with pytest.raises(ValueError, match="render_mode"):
        vardelic_pettingzoo.env(render_mode="rgb_array_list")
    env = vardelic_pettingzoo.env(num_players=2, render_mode="ansi")
    env.reset(seed=1)
    assert env.observation_space("player_0") is env.observation_space("player_0")
    assert env.render() == str(env.unwrapped.game)
