"""vardelic_rl.Game and the bridge to vardelic's states: ids, masks, observations, errors."""

import re
from pathlib import Path

import numpy as np
import pytest
import vardelic
import vardelic_rl as rl

README = Path(__file__).resolve().parents[2] / "README.md"


def random_positions(num_players, count, seed):
    """Yields (game, rng) at every position of seeded random games until `count` were seen."""
    rng = np.random.default_rng(seed)
    seen = 0
    game_seed = seed * 100_000
    while seen < count:
        game = rl.Game(num_players, seed=game_seed)
        game_seed += 1
        while not game.done:
            yield game, rng
            seen += 1
            game.step(int(rng.choice(np.flatnonzero(game.action_mask()))))


@pytest.mark.parametrize("num_players", [1, 2, 3, 4])
def test_ids_round_trip_through_vardelic_states(num_players):
    """At 2,500 positions (the native suite walks 10,000): one id per distinct legal action of vardelic's own list, each id
    decoding to that action; encode() agrees with the game; refused ids change nothing."""
    for game, rng in random_positions(num_players, 2_500, num_players):
        state = game.state()
        listed = {str(a): a for a in state.action_space()}
        legal = game.legal_actions()
        mask = game.action_mask()
        assert sorted(legal) == np.flatnonzero(mask).tolist()
        assert sorted(str(a) for a in legal.values()) == sorted(listed)
        for action in legal.values():
            assert action == listed[str(action)]

        observation, encoded_mask = rl.encode(state)
        player = game.current_player()
        np.testing.assert_array_equal(observation, game.observation(player))
        np.testing.assert_array_equal(encoded_mask, mask)
        for action_id in rng.choice(list(legal), size=min(3, len(legal)), replace=False):
            assert rl.to_action(state, int(action_id)) == legal[action_id]

        illegal = int(rng.integers(-2, rl.NUM_ACTIONS + 2))
        if illegal in legal:
            continue
        before = (str(game), game.observation(player).tobytes(), mask.tobytes())
        with pytest.raises(ValueError, match=f"action id {illegal} is not legal"):
            game.step(illegal)
        with pytest.raises(ValueError, match=f"action id {illegal} is not legal"):
            rl.to_action(state, illegal)
        assert (
            str(game),
            game.observation(player).tobytes(),
            game.action_mask().tobytes(),
        ) == before


@pytest.mark.parametrize("num_players", [1, 2, 3, 4])
def test_seeded_games_deal_as_vardelic_games_and_replay(num_players):
    """A PolicyPlayer that answers with recorded ids replays a Game move for move in
    VardelicGame, seeing the same observations and masks, and ends with the same result."""
    for seed in range(5):
        game = rl.Game(num_players, seed=seed)
        rng = np.random.default_rng(seed)
        record = []
        while not game.done:
            player = game.current_player()
            action_id = int(rng.choice(np.flatnonzero(game.action_mask())))
            record.append((game.observation(player), game.action_mask(), action_id))
            game.step(action_id)

        turns = iter(record)

        class DeadEnd(Exception):
            pass

        def replay(observation, mask, turns=turns):
            turn = next(turns, None)
            if turn is None:
                raise DeadEnd
            expected_observation, expected_mask, action_id = turn
            np.testing.assert_array_equal(observation, expected_observation)
            np.testing.assert_array_equal(mask, expected_mask)
            return action_id

        table = vardelic.VardelicGame([rl.PolicyPlayer(replay)] * num_players, seed)
        if game.state().action_space():
            result = table.playout()
            assert next(turns, None) is None
            assert result == game.result
            assert table.reward() == game.reward
        else:
            # The game stopped at a position with no legal action, which the driver offers to
            # its player all the same.
            assert game.result == rl.Result.Lost
            with pytest.raises(DeadEnd):
                table.playout()


def test_a_game_in_progress_and_after_its_end():
    game = rl.Game(2, seed=11)
    assert (game.num_players, game.current_player(), game.done, game.reward) == (2, 0, False, 0)
    assert game.result is None
    assert str(game) == str(game.state())
    assert repr(game) == "Game(num_players=2, current_player=0, reward=0, done=False)"
    observation = game.observation(1)
    assert observation.dtype == np.float32 and observation.shape == (rl.OBSERVATION_SIZE,)
    mask = game.action_mask()
    assert mask.dtype == np.int8 and mask.shape == (rl.NUM_ACTIONS,) and mask[rl.YIELD] == 1

    defeated = 0
    while not game.done:
        ids = np.flatnonzero(game.action_mask())
        defeated += game.step(int(ids[-1]))
    assert defeated == game.reward
    assert game.result in (rl.Result.Won, rl.Result.Lost)
    assert int(game.result) == (0 if game.reward == 12 else 1)
    assert str(game).endswith(("Result: Won", f"Result: Lost({game.reward})"))
    assert not game.action_mask().any() and game.legal_actions() == {}
    with pytest.raises(ValueError, match="action id 0 is not legal: the game is over"):
        game.step(0)


def test_change_player_and_refill_ids_name_the_listed_actions():
    actions = vardelic.actions
    solo = rl.Game(1, seed=3)
    assert type(solo.legal_actions()[rl.REFILL_HAND]).__name__ == "ActionRefillHand"
    for seed in range(200):
        game = rl.Game(3, seed=seed)
        while not game.done and game.observation(0)[_offset("phase") + 2] == 0:
            ids = np.flatnonzero(game.action_mask())
            game.step(int(ids[1] if len(ids) > 1 else ids[0]))
        if not game.done:
            break
    else:
        pytest.fail("no seed reached a jester's choice of the next player")
    chooser = game.current_player()
    legal = game.legal_actions()
    assert sorted(legal) == [rl.CHANGE_PLAYER + k for k in range(3)]
    for places in range(3):
        target = (chooser + places) % 3
        assert legal[rl.CHANGE_PLAYER + places] == actions.ActionChangePlayer(target)
    game.step(rl.CHANGE_PLAYER + 2)
    assert game.current_player() == (chooser + 2) % 3


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (lambda: rl.Game(0), ValueError, "Only 1-4 players are allowed"),
        (lambda: rl.Game(5, seed=1), ValueError, "Only 1-4 players are allowed"),
        (
            lambda: rl.Game(2, seed=-1),
            ValueError,
            r"seed must be between 0 and 2\*\*64 - 1, got -1",
        ),
        (lambda: rl.Game(2, seed=2**64), ValueError, "seed must be between 0 and"),
        (lambda: rl.Game(2, seed="7"), TypeError, "seed must be an int or None, not str"),
        (lambda: rl.Game(2, seed=True), TypeError, "seed must be an int or None, not bool"),
        (lambda: rl.Game(2).observation(2), ValueError, "player 2 is not at a table of 2"),
        (lambda: rl.Game(2).observation(-1), ValueError, "player -1 is not at a table of 2"),
        (lambda: rl.encode("state"), TypeError, "state"),
        (lambda: rl.to_action(object(), 0), TypeError, "state"),
        (lambda: rl.PolicyPlayer(3), TypeError, "policy must be callable, not int"),
        (lambda: rl.Game(2).step(1.0), TypeError, "action_id must be an int, not float"),
        (lambda: rl.Game(2).step(True), TypeError, "action_id must be an int, not bool"),
        (lambda: rl.Game(2).step(2**70), ValueError, "action id 9223372036854775807 is not legal"),
        (lambda: rl.Game(2).step(-(2**70)), ValueError, "action id -9223372036854775808 is not"),
    ],
)
def test_bad_arguments_raise_clear_errors(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_seeds_are_reproducible_and_an_unseeded_game_is_dealt_from_entropy():
    assert str(rl.Game(4, seed=np.uint64(2**63))) == str(rl.Game(4, seed=2**63))
    unseeded = {str(rl.Game(2)) for _ in range(5)}
    assert len(unseeded) > 1


def test_policy_player_sits_beside_builtin_players_and_its_errors_pass_through():
    policy = rl.PolicyPlayer(lambda observation, mask: np.flatnonzero(mask)[0])  # numpy int
    result = vardelic.VardelicGame([policy, vardelic.players.RandomPlayer(seed=1)], 5).playout()
    assert int(result) in (0, 1)

    seen = []

    def yield_first(observation, mask):
        seen.append(observation[_offset("num_players") : _offset("num_players") + 4].tolist())
        return 999

    with pytest.raises(ValueError, match="action id 999 is not legal"):
        vardelic.VardelicGame([rl.PolicyPlayer(yield_first)] * 3, 5).playout()
    assert seen == [[0, 0, 1, 0]]


def _offset(name):
    return next(offset for field, offset, _, _ in rl.OBSERVATION_LAYOUT if field == name)


def test_observation_layout_is_contiguous_and_documented_in_the_readme():
    offset = 0
    for _, field_offset, length, _ in rl.OBSERVATION_LAYOUT:
        assert field_offset == offset and length > 0
        offset += length
    assert offset == rl.OBSERVATION_SIZE
    rows = re.findall(
        r"^\| (\d+) \| (\d+) \| `(\w+)` \|", README.read_text(encoding="utf-8"), re.MULTILINE
    )
    assert [(name, int(o), int(n)) for o, n, name in rows] == [
        (name, o, n) for name, o, n, _ in rl.OBSERVATION_LAYOUT
    ]
