"""Player classes for py: seats in the arena tests; they use only the
documented state surface, so they work with the real engine and the stand-in."""

import threading
import time


class FirstAction:
    """Deterministic: always the first legal action."""

    def play(self, state):
        return state.action_space()[0]


class SlowFirstAction(FirstAction):
    def play(self, state):
        time.sleep(0.02)
        return super().play(state)


class FailsOnThirdMove:
    def __init__(self):
        self.calls = 0

    def play(self, state):
        self.calls += 1
        if self.calls == 3:
            raise RuntimeError("bot lost its marbles")
        return state.action_space()[-1]


class EngineLikeFailure(BaseException):
    pass


class RaisesBaseException:
    def play(self, state):
        raise EngineLikeFailure("That's a lot of damage!")


class Exits:
    """A player that calls sys.exit: a failure of its game, not of the sweep."""

    def play(self, state):
        raise SystemExit(3)


class ReturnsNone:
    def play(self, state):
        return None


class NeedsArguments:
    def __init__(self, depth):
        self.depth = depth

    def play(self, state):
        return state.action_space()[0]


class NoPlay:
    pass


class BrokenConstructor:
    def __init__(self):
        raise ValueError("no config file")


class KillsWorker:
    """Ends its process abruptly, as a crash in native code would."""

    def play(self, state):
        import os

        os._exit(7)


# Held by the test process while its workers play: a worker that is a fork of
# that process inherits it held, as it would any lock another thread held.
HELD = threading.Lock()


class NeedsFreeLock(FirstAction):
    def play(self, state):
        if not HELD.acquire(timeout=2):
            raise RuntimeError("worker started with the parent's lock held")
        HELD.release()
        return super().play(state)
