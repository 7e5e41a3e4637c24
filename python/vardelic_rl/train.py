"""Policy-gradient training of :class:`~vardelic_rl.agent.MaskedSoftmaxPolicy` with numpy alone.

An advantage actor-critic: each iteration steps ``num_envs`` games of the native batch for
``horizon`` steps with actions drawn from the policy, estimates advantages with the value head
(generalised advantage estimation), and takes one Adam step on the policy-gradient loss, the
value loss and an entropy bonus. One policy plays every seat, as the game is cooperative.
``examples/train_policy.py`` is the command-line front end.
"""

from __future__ import annotations

from collections.abc import Callable
from dataclasses import dataclass, field

import numpy as np

import vardelic_rl

from .agent import NUM_ACTIONS, MaskedSoftmaxPolicy, masked_softmax


@dataclass
class Settings:
    num_players: int = 2
    num_envs: int = 256
    horizon: int = 32
    iterations: int = 500
    hidden: int = 64
    learning_rate: float = 3e-3
    gamma: float = 1.0  # the return is the score: no discount
    gae_lambda: float = 0.95
    entropy: float = 0.01
    value: float = 0.5
    max_grad_norm: float = 1.0
    num_threads: int = 1
    seed: int = 0


@dataclass
class Progress:
    """One iteration's figures, handed to the callback."""

    iteration: int
    steps: int  # environment steps so far, all games together
    games: int  # games finished so far
    mean_score: float  # over the games finished in this iteration (nan if none)
    entropy: float


@dataclass
class History:
    steps: list[int] = field(default_factory=list)
    games: list[int] = field(default_factory=list)
    mean_score: list[float] = field(default_factory=list)
    entropy: list[float] = field(default_factory=list)

    def add(self, p: Progress) -> None:
        self.steps.append(p.steps)
        self.games.append(p.games)
        self.mean_score.append(p.mean_score)
        self.entropy.append(p.entropy)


class _Adam:
    def __init__(self, params: dict[str, np.ndarray], lr: float):
        self.lr, self.t = lr, 0
        self.m = {k: np.zeros_like(v) for k, v in params.items()}
        self.v = {k: np.zeros_like(v) for k, v in params.items()}

    def step(self, params: dict[str, np.ndarray], grads: dict[str, np.ndarray]) -> None:
        self.t += 1
        for k, g in grads.items():
            self.m[k] = 0.9 * self.m[k] + 0.1 * g
            self.v[k] = 0.999 * self.v[k] + 0.001 * g * g
            m_hat = self.m[k] / (1 - 0.9**self.t)
            v_hat = self.v[k] / (1 - 0.999**self.t)
            params[k] -= self.lr * m_hat / (np.sqrt(v_hat) + 1e-8)


def gradients(
    policy: MaskedSoftmaxPolicy, obs, masks, actions, advantages, returns, weights, s: Settings
):
    """Gradients of the actor-critic loss (weighted mean over rows) and the mean entropy."""
    p = policy.params
    x, h, logits, values = policy.forward(obs)
    probs = masked_softmax(logits, masks)
    logp = np.log(np.where(probs > 0, probs, 1.0))
    entropy = -(probs * logp).sum(axis=1)
    n = max(weights.sum(), 1.0)
    w = weights / n
    rows = np.arange(len(actions))
    # d(-adv * log p[a]) / d logits = -adv * (onehot(a) - p)
    d_logits = probs * (advantages * w)[:, None]
    d_logits[rows, actions] -= advantages * w
    # d(-entropy) / d logits = p * (log p + H), on the legal ids (p = 0 elsewhere)
    d_logits += s.entropy * probs * (logp + entropy[:, None]) * w[:, None]
    d_values = s.value * 2.0 * (values - returns) * w
    d_h = d_logits @ p["w2"].T + np.outer(d_values, p["wv"])
    d_pre = d_h * (1.0 - h * h)
    grads = {
        "w2": h.T @ d_logits,
        "b2": d_logits.sum(axis=0),
        "wv": h.T @ d_values,
        "bv": np.asarray(d_values.sum()),
        "w1": x.T @ d_pre,
        "b1": d_pre.sum(axis=0),
    }
    norm = np.sqrt(sum(float((g * g).sum()) for g in grads.values()))
    if norm > s.max_grad_norm:
        grads = {k: g * (s.max_grad_norm / norm) for k, g in grads.items()}
    return grads, float((entropy * w).sum())


def train(s: Settings, callback: Callable[[Progress], None] | None = None):
    """Trains a fresh policy; returns it with the per-iteration :class:`History`."""
    envs = vardelic_rl.VectorEnv(s.num_envs, s.num_players, seed=s.seed, num_threads=s.num_threads)
    obs, masks = envs.reset(seed=s.seed)
    size = obs.shape[1]
    T, E = s.horizon, s.num_envs
    buf_obs = np.zeros((T + 1, E, size), np.float32)
    buf_masks = np.zeros((T + 1, E, NUM_ACTIONS), bool)
    buf_actions = np.zeros((T, E), np.int64)
    buf_rewards = np.zeros((T, E), np.float64)
    buf_terms = np.zeros((T, E), bool)

    # Input statistics from a first stretch of random play, fixed from then on.
    warmup = MaskedSoftmaxPolicy.initial(size, s.hidden, seed=s.seed)
    seen = []
    for _ in range(T):
        seen.append(obs.copy())
        obs, masks, _, _ = envs.step(warmup.sample(masked_softmax(np.zeros(masks.shape), masks)))
    seen = np.concatenate(seen)
    policy = MaskedSoftmaxPolicy.initial(
        size, s.hidden, seed=s.seed, mean=seen.mean(axis=0), std=seen.std(axis=0)
    )
    policy.greedy = False
    adam = _Adam(policy.params, s.learning_rate)
    history = History()
    obs, masks = envs.reset(seed=s.seed + 1)
    running = np.zeros(E)
    steps = games = 0
    for iteration in range(s.iterations):
        scores = []
        for t in range(T):
            buf_obs[t], buf_masks[t] = obs, masks
            actions = policy.sample(policy.probabilities(obs, masks))
            obs, masks, rewards, terms = envs.step(actions)
            buf_actions[t], buf_rewards[t], buf_terms[t] = actions, rewards, terms
            running += rewards
            scores.extend(running[terms])
            running[terms] = 0.0
        buf_obs[T], buf_masks[T] = obs, masks
        steps += T * E
        games += len(scores)

        values = policy.forward(buf_obs.reshape(-1, size))[3].reshape(T + 1, E)
        advantages = np.zeros((T, E))
        last = np.zeros(E)
        for t in reversed(range(T)):
            alive = ~buf_terms[t]
            delta = buf_rewards[t] + s.gamma * values[t + 1] * alive - values[t]
            last = delta + s.gamma * s.gae_lambda * alive * last
            advantages[t] = last
        returns = advantages + values[:T]
        # A row without a legal id is a finished game waiting for its reset: it teaches nothing.
        weights = buf_masks[:T].any(axis=2).astype(np.float64).ravel()
        adv = advantages.ravel()
        live = weights > 0
        adv = (adv - adv[live].mean()) / (adv[live].std() + 1e-8)
        grads, entropy = gradients(
            policy,
            buf_obs[:T].reshape(-1, size),
            buf_masks[:T].reshape(-1, NUM_ACTIONS),
            buf_actions.ravel(),
            adv,
            returns.ravel(),
            weights,
            s,
        )
        adam.step(policy.params, grads)

        progress = Progress(
            iteration, steps, games, float(np.mean(scores)) if scores else float("nan"), entropy
        )
        history.add(progress)
        if callback is not None:
            callback(progress)
    policy.greedy = True
    return policy, history
