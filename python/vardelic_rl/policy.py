"""A seat for vardelic's game driver that asks a policy over observations and action ids."""

from ._vardelic_rl import encode, to_action


class PolicyPlayer:
    """A player object for ``vardelic.VardelicGame`` (and ``vardelic-arena``'s ``py:`` seats).

    ``policy(observation, mask)`` receives the float32 observation and the int8 mask of the
    player to move and returns a legal action id; an id that is not legal raises ValueError out
    of the game. For an arena seat, subclass it with a constructor that takes no arguments::

        class Greedy(PolicyPlayer):
            def __init__(self):
                super().__init__(lambda observation, mask: int(mask.nonzero()[0][-1]))
    """

    def __init__(self, policy):
        if not callable(policy):
            raise TypeError(f"policy must be callable, not {type(policy).__name__}")
        self.policy = policy

    def play(self, state):
        observation, mask = encode(state)
        return to_action(state, self.policy(observation, mask))
