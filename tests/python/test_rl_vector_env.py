"""vardelic_rl.VectorEnv: the same games as Game, whatever the thread count; errors; buffers."""

import gc
import threading

import numpy as np
import pytest
import vardelic_rl as rl


def record_game(num_players, seed, rng):
    """Plays Game(num_players, seed) with random legal ids; returns the (observation, mask, id,
    reward) of every turn."""
    game = rl.Game(num_players, seed=seed)
    turns = []
    while not game.done:
        observation = game.observation(game.current_player())
        mask = game.action_mask()
        action_id = int(rng.choice(np.flatnonzero(mask)))
        turns.append((observation, mask, action_id, game.step(action_id)))
    return turns


def draw(masks, rng):
    """A uniform legal id per row: the largest random key among the legal ids."""
    return np.argmax(rng.random(masks.shape) * masks, axis=1)


@pytest.mark.parametrize("num_threads", [1, 2])
@pytest.mark.parametrize("num_players", [1, 2, 3, 4])
def test_games_replay_lone_games_move_for_move(num_players, num_threads):
    """Game i of VectorEnv(seed=s) is Game(seed=s + i) given the same ids: same observations,
    masks and rewards, a termination on its last step, then the episode seeded s + i + n."""
    envs, seed = 3, 40 + num_players
    rng = np.random.default_rng(seed)
    records = [record_game(num_players, seed + i, rng) for i in range(envs)]
    env = rl.VectorEnv(envs, num_players, seed=seed, num_threads=num_threads)
    observations, masks = env.reset()
    assert env.seeds().tolist() == [seed + i for i in range(envs)]
    turn = [0] * envs
    returns = [0.0] * envs
    while any(t <= len(r) for t, r in zip(turn, records, strict=True)):
        actions = draw(masks, rng)
        for i, record in enumerate(records):
            if turn[i] < len(record):
                expected_observation, expected_mask, actions[i], _ = record[turn[i]]
                np.testing.assert_array_equal(observations[i], expected_observation)
                np.testing.assert_array_equal(masks[i], expected_mask)
        observations, masks, rewards, terminations = env.step(actions)
        for i, record in enumerate(records):
            if turn[i] < len(record):
                assert rewards[i] == record[turn[i]][3]
                returns[i] += rewards[i]
                assert terminations[i] == (turn[i] == len(record) - 1)
                if terminations[i]:
                    assert env.seeds()[i] == seed + i + envs
                    fresh = rl.Game(num_players, seed=seed + i + envs)
                    np.testing.assert_array_equal(
                        observations[i], fresh.observation(fresh.current_player())
                    )
                    np.testing.assert_array_equal(masks[i], fresh.action_mask())
            turn[i] += 1
    # An episode's return is its score.
    finals = [rl.Game(num_players, seed=seed + i) for i in range(envs)]
    for game, record in zip(finals, records, strict=True):
        for turn_record in record:
            game.step(turn_record[2])
    assert returns == [game.reward for game in finals]


def test_outputs_are_the_envs_own_reused_arrays_and_keep_it_alive():
    env = rl.VectorEnv(4, 2, seed=1)
    observations, masks = env.reset()
    assert observations.shape == (4, rl.OBSERVATION_SIZE) and observations.dtype == np.float32
    assert masks.shape == (4, rl.NUM_ACTIONS) and masks.dtype == np.int8
    rng = np.random.default_rng(1)
    out = env.step(draw(masks, rng))
    assert [a.dtype for a in out[2:]] == [np.float32, np.bool_]
    again = env.step(draw(out[1], rng))
    for first, second in zip(out, again, strict=True):
        assert np.shares_memory(first, second)
    players = env.current_players()
    assert np.shares_memory(players, env.current_players())
    del env, out
    gc.collect()
    assert np.isfinite(again[0]).all() and again[1].sum() > 0 and players.max() <= 1


@pytest.mark.parametrize(
    ("actions", "message"),
    [
        (np.zeros(3, dtype=np.float64), "actions must be integer action ids"),
        (np.zeros(3, dtype=bool), "actions must be integer action ids"),
        (np.zeros(2, dtype=np.int64), r"actions must have shape \(3,\), got \(2,\)"),
        (np.zeros((3, 1), dtype=np.int64), r"actions must have shape \(3,\), got \(3, 1\)"),
        ("012", "actions must"),
    ],
)
def test_a_batch_of_the_wrong_shape_or_dtype_is_refused(actions, message):
    env = rl.VectorEnv(3, 2, seed=2)
    with pytest.raises(ValueError, match=message):
        env.step(actions)


@pytest.mark.parametrize("dtype", [np.int8, np.uint8, np.int16, np.int32, np.uint32, np.int64])
def test_an_illegal_id_names_its_game_and_no_game_moves(dtype):
    env, twin = rl.VectorEnv(4, 3, seed=5, num_threads=2), rl.VectorEnv(4, 3, seed=5)
    observations, masks = env.reset()
    rng = np.random.default_rng(5)
    actions = draw(masks, rng)
    before = [a.copy() for a in (observations, masks, env.current_players(), env.seeds())]
    bad = actions.copy()
    bad[2] = 127 if masks[2, 127] == 0 else 255
    with pytest.raises(ValueError, match=rf"^game 2: action id {bad[2]} is not legal \(legal ids"):
        env.step(bad.astype(dtype))
    after = (observations, masks, env.current_players(), env.seeds())
    for old, new in zip(before, after, strict=True):
        np.testing.assert_array_equal(old, new)
    stepped = env.step(list(actions))  # a plain list of ints is accepted too
    for mine, theirs in zip(stepped, twin.step(actions), strict=True):
        np.testing.assert_array_equal(mine, theirs)
    actions = draw(stepped[1], rng)
    strided = np.repeat(actions, 2).astype(np.int16)[::2]  # a view with a stride of two ids
    for mine, theirs in zip(env.step(strided), twin.step(actions), strict=True):
        np.testing.assert_array_equal(mine, theirs)


def test_reset_keeps_unplayed_deals_and_restarts_sequences_from_a_seed():
    env = rl.VectorEnv(2, 4, seed=9)
    dealt = env.reset()[0].copy()
    np.testing.assert_array_equal(env.reset()[0], dealt)
    env.step(draw(env.reset()[1], np.random.default_rng(0)))
    env.reset()
    assert env.seeds().tolist() == [11, 12]
    np.testing.assert_array_equal(env.reset(seed=9)[0], dealt)
    assert len({tuple(rl.VectorEnv(2, 4).seeds()) for _ in range(3)}) > 1  # from entropy


@pytest.mark.parametrize(
    ("make", "error", "message"),
    [
        (lambda: rl.VectorEnv(0, 2), ValueError, "num_envs must be at least 1, got 0"),
        (lambda: rl.VectorEnv(2, 0), ValueError, "Only 1-4 players are allowed"),
        (lambda: rl.VectorEnv(2, 2, num_threads=0), ValueError, "num_threads must be at least 1"),
        (lambda: rl.VectorEnv(2, 2, seed=-5), ValueError, "seed must be between 0 and"),
        (lambda: rl.VectorEnv(2, 2).reset(seed=1.5), TypeError, "seed must be an int or None"),
    ],
)
def test_bad_construction_is_refused(make, error, message):
    with pytest.raises(error, match=message):
        make()


def test_steps_run_without_the_interpreter_lock_and_overlapping_calls_are_refused():
    """Two threads stepping one env: while one is inside step (lock released), the other is
    refused with RuntimeError; both threads stepping their own envs never are."""
    env = rl.VectorEnv(2048, 2, seed=3, num_threads=2)
    masks = env.reset()[1]
    actions = np.argmax(masks, axis=1)  # Yield at the first turn of every game
    errors = []

    def hammer():
        for _ in range(20):
            try:
                env.reset(seed=3)
            except RuntimeError as err:
                errors.append(str(err))

    thread = threading.Thread(target=hammer)
    thread.start()
    for _ in range(20):
        try:
            env.reset(seed=3)
            env.step(actions)
        except RuntimeError as err:
            errors.append(str(err))
    thread.join()
    assert set(errors) <= {"this VectorEnv is already in use by another thread"}
    assert errors, "the calls never overlapped: the lock was never released"
