"""What the two nanobind modules share (src/python/capsule/nanobind_shared.h): one rule for seed
arguments, and a second caller refused while the first works without the interpreter lock."""

import threading
import time

import numpy as np
import pytest

rl = pytest.importorskip("vardelic_rl")
agents = pytest.importorskip("vardelic_agents")

SEEDED = {
    "Game": lambda seed: rl.Game(2, seed=seed),
    "VectorEnv": lambda seed: rl.VectorEnv(2, 2, seed=seed),
    "VectorEnv.reset": lambda seed: rl.VectorEnv(2, 2).reset(seed=seed),
    "ISMCTSPlayer": lambda seed: agents.ISMCTSPlayer(seed=seed),
}


@pytest.mark.parametrize("make", SEEDED.values(), ids=SEEDED.keys())
@pytest.mark.parametrize(
    "seed, error, message",
    [
        (-1, ValueError, r"^seed must be between 0 and 2\*\*64 - 1, got -1$"),
        (2**64, ValueError, r"^seed must be between 0 and 2\*\*64 - 1, got 18446744073709551616$"),
        (1.0, TypeError, "^seed must be an int or None, not float$"),
        (True, TypeError, "^seed must be an int or None, not bool$"),
        ("7", TypeError, "^seed must be an int or None, not str$"),
    ],
)
def test_every_seed_argument_follows_one_rule(make, seed, error, message):
    with pytest.raises(error, match=message):
        make(seed)


@pytest.mark.parametrize("make", SEEDED.values(), ids=SEEDED.keys())
@pytest.mark.parametrize("seed", [None, 0, 2**64 - 1, np.uint64(2**64 - 1), np.int8(3)])
def test_every_seed_argument_takes_none_and_any_integer_in_range(make, seed):
    make(seed)


def test_a_stepping_batch_keeps_its_ids_while_another_thread_is_refused():
    """While one thread steps (without the interpreter lock), another thread's step is refused
    before it stages its ids: the first thread's step plays its own ids, never the other's."""
    env, twin = rl.VectorEnv(4096, 2, seed=3, num_threads=2), rl.VectorEnv(4096, 2, seed=3)
    ids = np.argmax(env.reset(seed=3)[1], axis=1)
    refused, stop = [], threading.Event()

    def intrude():
        illegal = np.full(4096, rl.REFILL_HAND)  # never legal at a two-player table
        while not stop.is_set():
            try:
                env.step(illegal)
            except RuntimeError as err:
                refused.append(str(err))
            except ValueError:
                pass  # got in between two steps: refused as illegal, nothing moved
            # Sleep outside any call: a loop that only lets go of the interpreter lock inside a
            # step (holding the env) would refuse every call of the main thread, for ever.
            time.sleep(0.0005)

    thread = threading.Thread(target=intrude)
    thread.start()
    try:
        steps, deadline = 0, time.monotonic() + 120
        while steps < 10:
            assert time.monotonic() < deadline, f"only {steps} of 10 steps got through"
            try:
                env.reset(seed=3)
                observations = env.step(ids)[0].copy()
            except RuntimeError:
                time.sleep(0.0005)
                continue  # the other thread was inside a call: try again
            twin.reset(seed=3)
            np.testing.assert_array_equal(observations, twin.step(ids)[0])
            steps += 1
    finally:
        stop.set()
        thread.join()
    assert set(refused) <= {"this VectorEnv is already in use by another thread"}
