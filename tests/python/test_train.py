"""Training with the usual libraries: the picture render under Stable-Baselines3's and Gymnasium's
checkers, VardelicVecEnv against the Gymnasium vector environment, MaskablePPO on it, and a short
run of examples/train_ppo.py."""

import importlib.util
import os
import sys
from pathlib import Path

import gymnasium
import numpy as np
import pytest
import vardelic_rl

if os.environ.get("VARDELIC_SANITIZER"):
    pytest.skip(
        "torch's native code is not under test in the sanitizer build", allow_module_level=True
    )
torch = pytest.importorskip("torch")
pytest.importorskip("stable_baselines3")
sb3_contrib = pytest.importorskip("sb3_contrib")

from gymnasium.utils.env_checker import check_env as gymnasium_check_env  # noqa: E402
from stable_baselines3.common.env_checker import check_env  # noqa: E402
from stable_baselines3.common.env_util import make_vec_env  # noqa: E402
from vardelic_rl import picture  # noqa: E402
from vardelic_rl.gym_env import ENV_ID, VardelicEnv  # noqa: E402
from vardelic_rl.sb3 import VardelicVecEnv  # noqa: E402
from vardelic_rl.vector_env import VardelicVectorEnv  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]


def random_legal(masks, rng):
    """One uniform legal id per row."""
    return np.argmax(rng.random(masks.shape) * (masks != 0), axis=1)


@pytest.mark.filterwarnings("ignore:.*is not legal here")  # the checkers step unmasked
@pytest.mark.parametrize("num_players", [1, 2, 4])
def test_checkers_pass_with_the_picture_render(num_players, capsys):
    env = VardelicEnv(num_players=num_players, render_mode="rgb_array")
    check_env(env, skip_render_check=False)
    # Made through the registry, the checker also tries every other render mode.
    gymnasium_check_env(
        gymnasium.make(ENV_ID, num_players=num_players, render_mode="rgb_array").unwrapped
    )
    env.reset(seed=3)
    first = env.render()
    assert first.shape == (picture.HEIGHT, picture.WIDTH, 3) and first.dtype == np.uint8
    while not env.game.done:  # a different position is a different picture, to the end
        env.step(random_legal(env.action_masks()[None], np.random.default_rng(0))[0])
    last = env.render()
    assert last.shape == first.shape and not np.array_equal(first, last)


FIELDS = {name: (offset, length) for name, offset, length, _ in vardelic_rl.OBSERVATION_LAYOUT}


@pytest.mark.parametrize(
    "name, index, value",
    [
        ("enemy_health", 0, 3),
        ("enemy_attack", 0, 7),
        ("enemy_card", 11, 1),  # another enemy
        ("pile_sizes", 0, 9),  # tavern deck
        ("pile_sizes", 1, 9),  # discard pile
        ("pile_sizes", 3, 2),  # castle
        ("attack_cards", 52, 1),  # a jester played
        ("other_hand_sizes", 0, 1),
        ("hand_slots", 4, 1),  # the first card read as a jester
        ("enemies_defeated", 0, 5),
        ("discard_owed", 0, 4),
    ],
)
def test_every_visible_field_shows_in_the_picture(name, index, value):
    game = vardelic_rl.Game(2, seed=42)
    observation = game.observation(game.current_player())
    offset, length = FIELDS[name]
    assert index < length
    changed = observation.copy()
    changed[offset + index] = value if observation[offset + index] != value else value + 1
    if name == "enemy_card":
        changed[offset : offset + length] = np.eye(length)[index]
    if name == "discard_owed":  # shown while a discard is owed
        for o in (observation, changed):
            o[FIELDS["phase"][0] : FIELDS["phase"][0] + 3] = (0, 1, 0)
    assert not np.array_equal(picture.draw(observation), picture.draw(changed))
    with pytest.raises(ValueError, match="shape"):
        picture.draw(observation[:-1])


def test_make_vec_env_renders_by_default():
    envs = make_vec_env(ENV_ID, n_envs=2, env_kwargs={"num_players": 3})
    assert envs.render_mode == "rgb_array"
    envs.reset()
    tiled = envs.render()  # both games' pictures, one above the other
    assert tiled.shape == (2 * picture.HEIGHT, picture.WIDTH, 3) and tiled.dtype == np.uint8


@pytest.mark.parametrize("num_players, num_threads", [(1, 1), (3, 2)])
def test_sb3_vec_env_follows_the_gymnasium_vector_env(num_players, num_threads):
    n, seed = 6, 17
    ours = VardelicVecEnv(n, num_players=num_players, num_threads=num_threads, seed=seed)
    theirs = VardelicVectorEnv(n, num_players=num_players)
    alone = VardelicEnv(num_players=num_players)  # deals as game 0
    obs = ours.reset()
    expected, infos = theirs.reset(seed=seed)
    alone_obs, _ = alone.reset(seed=seed)
    assert np.array_equal(obs, expected) and np.array_equal(obs[0], alone_obs)
    rng = np.random.default_rng(num_players)
    returns, lengths, finished = np.zeros(n), np.zeros(n, dtype=int), 0
    for _ in range(200):
        masks = np.stack(ours.env_method("action_masks"))
        assert np.array_equal(masks, infos["action_mask"] != 0)
        ids = random_legal(masks, rng)
        obs, rewards, dones, step_infos = ours.step(ids)
        expected, expected_rewards, terminations, _, infos = theirs.step(ids)
        assert np.array_equal(obs, expected) and np.array_equal(rewards, expected_rewards)
        assert np.array_equal(dones, terminations)
        returns += rewards
        lengths += 1
        for i in range(n):
            assert ("episode" in step_infos[i]) == dones[i]
            if dones[i]:
                episode = step_infos[i]["episode"]
                assert (episode["r"], episode["l"]) == (returns[i], lengths[i])
                returns[i], lengths[i] = 0.0, 0
                finished += 1
        if alone is not None:
            alone_obs, *_ = alone.step(ids[0])
            if dones[0]:  # the lone game's last observation is the terminal one
                assert np.array_equal(step_infos[0]["terminal_observation"], alone_obs)
                alone = None  # its next deal comes from its own generator
            else:
                assert np.array_equal(obs[0], alone_obs)
    assert finished > n and alone is None


def test_sb3_vec_env_seeding_attributes_and_errors():
    env = VardelicVecEnv(4, seed=None)
    seeds = env.seed(5)
    first = env.reset()
    assert np.array_equal(first, VardelicVecEnv(4, seed=5).reset())
    assert len(seeds) == 4 and seeds[1] == seeds[0] + 1
    assert env.has_attr("action_masks") and not env.has_attr("no_such_attribute")
    assert env.get_attr("num_players", indices=[0, 2]) == [2, 2]
    assert env.env_is_wrapped(gymnasium.Wrapper) == [False] * 4
    assert [m.shape for m in env.env_method("action_masks", indices=1)] == [(261,)]
    with pytest.raises(AttributeError, match="only 'action_masks'"):
        env.env_method("render")
    with pytest.raises(AttributeError, match="share one native batch"):
        env.set_attr("num_players", 3)
    illegal = random_legal(env.action_masks(), np.random.default_rng(0))
    illegal[0] = np.flatnonzero(~env.action_masks()[0])[0]
    with pytest.raises(ValueError, match="game 0"):
        env.step(illegal)
    assert np.array_equal(env.reset(), first)  # no game moved, so none is dealt again


class Recording(VardelicVecEnv):
    """Keeps whether every id the trainer sent was legal in its game."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.sent = self.illegal = 0

    def step_async(self, actions):
        legal = self.action_masks()[np.arange(self.num_envs), actions]
        self.sent += legal.size
        self.illegal += int((~legal).sum())
        super().step_async(actions)


@pytest.fixture
def one_torch_thread():
    # Matrices this small gain nothing from more threads on a busy machine.
    threads = torch.get_num_threads()
    torch.set_num_threads(1)
    yield
    torch.set_num_threads(threads)


def test_maskable_ppo_trains_on_the_native_batch_with_legal_ids_only(one_torch_thread):
    env = Recording(16, num_players=2)
    model = sb3_contrib.MaskablePPO(
        "MlpPolicy", env, n_steps=32, batch_size=256, n_epochs=1, seed=0, device="cpu"
    )
    model.learn(1024)
    assert env.sent >= 1024 and env.illegal == 0
    episodes = list(model.ep_info_buffer)  # what the logger's ep_rew_mean is made from
    assert episodes and all(0 <= e["r"] <= 12 and e["l"] >= 1 for e in episodes)
    ids, _ = model.predict(env.reset(), action_masks=env.action_masks())
    assert env.action_masks()[np.arange(16), ids].all()


def test_train_ppo_example_runs_and_writes_what_it_promises(tmp_path, one_torch_thread):
    spec = importlib.util.spec_from_file_location("train_ppo", ROOT / "examples" / "train_ppo.py")
    example = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = example  # its dataclass looks itself up there
    spec.loader.exec_module(example)
    weights, curve = tmp_path / "ppo.pt", tmp_path / "curve.png"
    figures = example.main(
        ["--num-envs", "32", "--num-steps", "16", "--total-steps", "2048", "--hidden", "16"]
        + ["--out", str(weights), "--curve", str(curve), "--seed", "1"]
    )
    assert figures["steps"] == 2048 and figures["steps_per_second"] > 0
    assert figures["history_scores"] and curve.stat().st_size > 0
    saved = torch.load(weights)
    agent = example.Agent(saved["args"]["hidden"])
    agent.load_state_dict(saved["model"])
    assert round(float(agent.obs_count)) == 2048  # the normaliser saw every observation
    game_masks = VardelicVecEnv(8, seed=2)
    obs, masks = game_masks.reset(), game_masks.action_masks()
    logits, values = agent(torch.from_numpy(obs), torch.from_numpy(masks))
    assert masks[np.arange(8), logits.argmax(-1).numpy()].all() and values.shape == (8,)
