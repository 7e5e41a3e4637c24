"""Train a policy by PPO in PyTorch on the native batch: one file, one loop.

Games are stepped together in C++ (``vardelic_rl.VectorEnv``); one policy plays every seat, as
the game is cooperative. Each iteration collects ``num_steps`` steps of ``num_envs`` games with
actions drawn from the masked categorical (illegal ids get no probability), estimates
advantages by GAE, and takes ``update_epochs`` passes of minibatch steps on the clipped
objective, the value loss and an entropy bonus. Writes the weights (.pt), a learning curve
(.png), and reports environment steps per second.

    python3 examples/train_ppo.py --out ppo_policy.pt --curve ppo_curve.png

Needs the ``train`` extra (torch); tqdm and matplotlib come with ``rl`` and the package.
"""

from __future__ import annotations

import argparse
import dataclasses
import math
import time
from dataclasses import dataclass

import numpy as np
import torch
import vardelic_rl
from torch import nn
from tqdm import tqdm


@dataclass
class Args:
    num_players: int = 2
    num_envs: int = 512  # games stepped together
    num_steps: int = 32  # steps of every game per iteration
    total_steps: int = 2_000_000  # environment steps, all games together
    learning_rate: float = 1e-3
    anneal_lr: bool = True
    gamma: float = 1.0  # the return is the score: no discount
    gae_lambda: float = 0.95
    num_minibatches: int = 4
    update_epochs: int = 2
    clip_coef: float = 0.2
    ent_coef: float = 0.01
    vf_coef: float = 0.5
    max_grad_norm: float = 0.5
    hidden: int = 128
    env_threads: int = 1  # C++ threads stepping the games
    torch_threads: int = 1  # small matrices: more threads mostly wait on each other
    seed: int = 0
    out: str = "ppo_policy.pt"
    curve: str = "ppo_curve.png"  # "" for none


def parse_args(argv: list[str] | None = None) -> Args:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for f in dataclasses.fields(Args):
        flag = "--" + f.name.replace("_", "-")
        if f.type == "bool":
            parser.add_argument(flag, action=argparse.BooleanOptionalAction, default=f.default)
        else:
            kind = {"int": int, "float": float, "str": str}[f.type]
            parser.add_argument(flag, type=kind, default=f.default)
    return Args(**vars(parser.parse_args(argv)))


SQRT2 = math.sqrt(2)  # the usual gain of orthogonal initialisation before tanh


class Agent(nn.Module):
    """Actor and critic over a shared trunk; observations standardised by running statistics."""

    def __init__(self, hidden: int):
        super().__init__()
        size = vardelic_rl.OBSERVATION_SIZE

        def layer(n_in, n_out, gain=SQRT2):
            linear = nn.Linear(n_in, n_out)
            nn.init.orthogonal_(linear.weight, gain)
            nn.init.zeros_(linear.bias)
            return linear

        self.trunk = nn.Sequential(layer(size, hidden), nn.Tanh(), layer(hidden, hidden), nn.Tanh())
        self.actor = layer(hidden, vardelic_rl.NUM_ACTIONS, gain=0.01)
        self.critic = layer(hidden, 1, gain=1.0)
        self.register_buffer("obs_mean", torch.zeros(size))
        self.register_buffer("obs_var", torch.ones(size))
        self.register_buffer("obs_count", torch.tensor(1e-4))

    def update_normaliser(self, batch: torch.Tensor) -> None:
        mean, var, n = batch.mean(0), batch.var(0, unbiased=False), batch.shape[0]
        delta, total = mean - self.obs_mean, self.obs_count + n
        self.obs_mean += delta * n / total
        self.obs_var = (
            self.obs_var * self.obs_count + var * n + delta**2 * self.obs_count * n / total
        ) / total
        self.obs_count = total

    def forward(self, obs: torch.Tensor, mask: torch.Tensor):
        """Masked logits and the value of each observation."""
        x = ((obs - self.obs_mean) / torch.sqrt(self.obs_var + 1e-8)).clamp(-10, 10)
        h = self.trunk(x)
        logits = self.actor(h).masked_fill(~mask, -1e9)  # illegal ids: no probability
        return logits, self.critic(h).squeeze(-1)


def plot(steps, scores, path: str, title: str) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    steps, scores = np.asarray(steps), np.asarray(scores)
    window = max(1, len(scores) // 20)
    smooth = np.convolve(scores, np.ones(window) / window, "valid")
    fig, ax = plt.subplots(figsize=(7, 4), dpi=100)
    ax.plot(steps, scores, color="0.75", lw=0.8, label="games finished in one iteration")
    ax.plot(steps[window - 1 :], smooth, color="C0", lw=2, label=f"mean of {window} iterations")
    ax.set_xlabel("environment steps")
    ax.set_ylabel("mean score (enemies defeated)")
    ax.set_title(title)
    ax.set_ylim(bottom=0)
    ax.grid(alpha=0.3)
    ax.legend(loc="lower right")
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def main(argv: list[str] | None = None) -> dict:
    """Trains as the command line says; returns the run's figures."""
    args = parse_args(argv)
    torch.manual_seed(args.seed)
    torch.set_num_threads(args.torch_threads)
    envs = vardelic_rl.VectorEnv(
        args.num_envs, args.num_players, seed=args.seed, num_threads=args.env_threads
    )
    agent = Agent(args.hidden)
    optimizer = torch.optim.Adam(agent.parameters(), lr=args.learning_rate, eps=1e-5)

    T, N = args.num_steps, args.num_envs
    obs_buf = torch.zeros(T, N, vardelic_rl.OBSERVATION_SIZE)
    mask_buf = torch.zeros(T, N, vardelic_rl.NUM_ACTIONS, dtype=torch.bool)
    actions = torch.zeros(T, N, dtype=torch.long)
    logprobs, rewards, dones, values = (torch.zeros(T, N) for _ in range(4))

    obs, masks = envs.reset()  # the batch's own buffers, overwritten by each step
    score_so_far = np.zeros(N)
    history_steps, history_scores = [], []
    iterations = max(1, args.total_steps // (T * N))
    batch_size = T * N
    minibatch = max(1, batch_size // args.num_minibatches)
    start = time.perf_counter()
    bar = tqdm(total=iterations * batch_size, unit="step", unit_scale=True, smoothing=0.1)
    entropy = torch.tensor(float("nan"))
    for iteration in range(iterations):
        if args.anneal_lr:
            optimizer.param_groups[0]["lr"] = args.learning_rate * (1 - iteration / iterations)

        # Rollout: T steps of every game, actions from the masked categorical.
        finished_scores = []
        for t in range(T):
            obs_buf[t].copy_(torch.from_numpy(obs))
            mask_buf[t].copy_(torch.from_numpy(masks))
            with torch.no_grad():
                logits, value = agent(obs_buf[t], mask_buf[t])
                # A draw from the masked categorical (the Gumbel-max trick: cheaper here).
                noise = -torch.log(-torch.log(torch.rand_like(logits)))
                action = (logits + noise).argmax(-1)
                logprob = torch.log_softmax(logits, -1).gather(1, action[:, None])[:, 0]
            actions[t], logprobs[t], values[t] = action, logprob, value
            obs, masks, reward, terminated = envs.step(action.numpy())
            rewards[t].copy_(torch.from_numpy(reward))
            dones[t].copy_(torch.from_numpy(terminated))
            # Same-step reset: a finished game's row already holds its next deal.
            score_so_far += reward
            if terminated.any():
                finished_scores.extend(score_so_far[terminated].tolist())
                score_so_far[terminated] = 0.0

        # GAE: done[t] means step t ended its game, so nothing flows back across it.
        with torch.no_grad():
            next_value = agent(torch.from_numpy(obs), torch.from_numpy(masks).bool())[1]
            advantages = torch.zeros(T, N)
            last = torch.zeros(N)
            for t in reversed(range(T)):
                following = next_value if t == T - 1 else values[t + 1]
                alive = 1.0 - dones[t]
                delta = rewards[t] + args.gamma * following * alive - values[t]
                last = delta + args.gamma * args.gae_lambda * alive * last
                advantages[t] = last
            returns = advantages + values

        # PPO update over shuffled minibatches of the whole rollout.
        b_obs = obs_buf.reshape(batch_size, -1)
        b_mask = mask_buf.reshape(batch_size, -1)
        b_actions, b_logprobs = actions.reshape(-1), logprobs.reshape(-1)
        b_adv, b_returns = advantages.reshape(-1), returns.reshape(-1)
        agent.update_normaliser(b_obs)
        for _ in range(args.update_epochs):
            order = torch.randperm(batch_size)
            for lo in range(0, batch_size, minibatch):
                idx = order[lo : lo + minibatch]
                logits, value = agent(b_obs[idx], b_mask[idx])
                logp_all = torch.log_softmax(logits, -1)
                logprob = logp_all.gather(1, b_actions[idx, None])[:, 0]
                ratio = (logprob - b_logprobs[idx]).exp()
                adv = b_adv[idx]
                adv = (adv - adv.mean()) / (adv.std() + 1e-8)
                policy_loss = torch.max(
                    -adv * ratio, -adv * ratio.clamp(1 - args.clip_coef, 1 + args.clip_coef)
                ).mean()
                value_loss = 0.5 * ((value - b_returns[idx]) ** 2).mean()
                entropy = -(logp_all.exp() * logp_all).sum(-1).mean()  # illegal ids add 0
                loss = policy_loss + args.vf_coef * value_loss - args.ent_coef * entropy
                optimizer.zero_grad()
                loss.backward()
                nn.utils.clip_grad_norm_(agent.parameters(), args.max_grad_norm)
                optimizer.step()

        done_steps = (iteration + 1) * batch_size
        if finished_scores:
            history_steps.append(done_steps)
            history_scores.append(float(np.mean(finished_scores)))
        bar.update(batch_size)
        bar.set_postfix(
            score=f"{history_scores[-1]:.2f}" if history_scores else "-",
            entropy=f"{entropy.item():.2f}",
        )
    bar.close()
    elapsed = time.perf_counter() - start
    total = iterations * batch_size
    print(f"{total:,} steps in {elapsed:.1f} s: {total / elapsed:,.0f} steps/s")
    if history_scores:
        last = history_scores[-max(1, len(history_scores) // 10) :]
        print(f"mean score of the games finished in the last iterations: {np.mean(last):.2f}")

    torch.save({"model": agent.state_dict(), "args": dataclasses.asdict(args)}, args.out)
    print(f"weights written to {args.out}")
    if args.curve and history_scores:
        title = f"PPO, {args.num_players} players, {args.num_envs} games x {T} steps per iteration"
        plot(history_steps, history_scores, args.curve, title)
        print(f"learning curve written to {args.curve}")
    return {
        "steps": total,
        "seconds": elapsed,
        "steps_per_second": total / elapsed,
        "history_steps": history_steps,
        "history_scores": history_scores,
    }


if __name__ == "__main__":
    main()
