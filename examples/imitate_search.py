"""Train a policy without search by imitating the information-set search player.

Round 0 records the decisions of ``vardelic_agents.ISMCTSPlayer`` on many deals (the
observation, the mask and the id it chose at every position with more than one legal move)
and fits a network to them by masked cross-entropy. Each later round lets the network play a
share of the moves (``--learner-share``), asks the search player what it would have done at
every position reached, adds those labels and fits again on everything: the network learns to
recover from its own mistakes, which pure imitation never shows it. After every round it plays
``--eval-games`` games on the native batch and reports its mean score.

The teacher's budget is ``--iterations``: with 1 it plays the first action of its heuristic
order (a few microseconds, so millions of decisions are cheap), with 100 it searches (about a
millisecond). ``--init`` goes on from saved weights, with the network playing from round 0;
the README's recipe imitates the cheap teacher first, then goes on with the searching one:

    python3 examples/imitate_search.py --players 2 --iterations 1 --out first.npz
    python3 examples/imitate_search.py --players 2 --iterations 100 --init first.npz \
        --out policy_net.npz

Writes the weights as ``.npz`` for ``vardelic_rl.NetworkPlayer`` (numpy alone plays them; the
arena seat is ``policy(path=FILE)``), the rounds' figures to ``--history`` (appended, so a
recipe of several commands keeps one record) and the score per round as a PNG. Needs the
``train`` extra (torch) and ``vardelic_agents``.
"""

from __future__ import annotations

import argparse
import contextlib
import dataclasses
import json
import multiprocessing
import os
import tempfile
import time
from dataclasses import dataclass

import numpy as np
import torch
import vardelic_rl
from torch import nn
from tqdm import tqdm
from vardelic_rl._vardelic_rl import _action_id
from vardelic_rl.network import NetworkPolicy


@dataclass
class Args:
    players: str = "2"  # player counts, comma-separated: one network serves them all
    games: int = 25000  # deals per round and player count
    rounds: int = 2  # round 0 imitates; each later one corrects the network on its own games
    iterations: int = 1  # the teacher's iterations per decision (1: its heuristic's choice)
    learner_share: float = 0.5  # share of moves the network plays in rounds after the first
    hidden: int = 512
    depth: int = 3  # hidden layers
    epochs: int = 8  # passes over all data so far, per round
    batch: int = 512
    learning_rate: float = 1e-3
    workers: int = 2
    eval_games: int = 1000
    seed: int = 0
    out: str = "policy_net.npz"
    curve: str = ""  # a PNG of the score per round, "" for none
    history: str = ""  # a JSON file the rounds are appended to: the curve shows all of it
    data: str = ""  # keep the recorded decisions in this .npz ("" for none)
    init: str = ""  # start from these weights (.npz; their widths, not --hidden/--depth): the
    # network plays from round 0 on


def parse_args(argv: list[str] | None = None) -> Args:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for f in dataclasses.fields(Args):
        parser.add_argument(
            "--" + f.name.replace("_", "-"), type=type(f.default), default=f.default
        )
    args = Args(**vars(parser.parse_args(argv)))
    counts = player_counts(args)
    if not counts or not set(counts) <= {1, 2, 3, 4}:
        parser.error(f"--players takes counts among 1..4, not {args.players!r}")
    if args.games < 1 or args.rounds < 1 or args.workers < 1 or args.iterations < 1:
        parser.error("--games, --rounds, --workers and --iterations must be at least 1")
    if not 0.0 <= args.learner_share <= 1.0:
        parser.error("--learner-share must lie in [0, 1]")
    return args


def player_counts(args: Args) -> list[int]:
    try:
        return sorted({int(n) for n in args.players.split(",")})
    except ValueError:
        return []


def record_games(job: tuple) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """One worker's share of a round: plays `seeds` with `num_players` players and returns the
    (observations, masks, search ids) of every position that offered a choice."""
    num_players, seeds, iterations, learner_path, share, rng_seed = job
    from vardelic_agents import ISMCTSPlayer

    learner = NetworkPolicy.load(learner_path) if learner_path else None
    rng = np.random.default_rng(rng_seed)
    observations, masks, labels = [], [], []
    for seed in seeds:
        game = vardelic_rl.Game(num_players, seed=int(seed))
        teacher = ISMCTSPlayer(iterations=iterations, seed=int(seed))
        while not game.done:
            mask = game.action_mask()
            legal = np.flatnonzero(mask)
            if len(legal) == 0:
                break  # no legal action: the game is lost where it stands
            if len(legal) == 1:
                game.step(int(legal[0]))
                continue
            observation = game.observation(game.current_player())
            state = game.state()
            label = _action_id(state, teacher.play(state=state))
            observations.append(observation)
            masks.append(mask != 0)
            labels.append(label)
            use_learner = learner is not None and rng.random() < share
            game.step(learner(observation, mask) if use_learner else label)
    if not labels:
        return (
            np.zeros((0, vardelic_rl.OBSERVATION_SIZE), np.float32),
            np.zeros((0, vardelic_rl.NUM_ACTIONS), bool),
            np.zeros(0, np.int64),
        )
    return np.stack(observations), np.stack(masks), np.array(labels, np.int64)


def collect(args: Args, round_index: int, learner_path: str | None, pool) -> tuple:
    share = 0.0 if not learner_path else args.learner_share
    jobs = []
    for n in player_counts(args):
        base = args.seed * 1_000_003 + (round_index * 10 + n) * 100_000_007
        seeds = np.arange(base, base + args.games)
        for chunk_index, chunk in enumerate(np.array_split(seeds, max(1, args.games // 20))):
            jobs.append(
                (
                    n,
                    chunk.tolist(),
                    args.iterations,
                    learner_path,
                    share,
                    hash((args.seed, round_index, n, chunk_index)) & 0xFFFFFFFF,
                )
            )
    parts = []
    with tqdm(
        total=args.games * len(player_counts(args)), desc=f"round {round_index} games", unit="game"
    ) as bar:
        for job, part in zip(jobs, pool.imap(record_games, jobs), strict=True):
            parts.append(part)
            bar.update(len(job[1]))
    return tuple(np.concatenate([p[i] for p in parts]) for i in range(3))


class InProcess:
    """The pool's imap, in this process."""

    @staticmethod
    def imap(function, jobs):
        return map(function, jobs)


class Net(nn.Module):
    def __init__(self, hidden: int, depth: int, mean: np.ndarray, std: np.ndarray):
        super().__init__()
        self.register_buffer("mean", torch.as_tensor(mean, dtype=torch.float32))
        self.register_buffer("inv_std", torch.as_tensor(1.0 / std, dtype=torch.float32))
        layers: list[nn.Module] = []
        width = vardelic_rl.OBSERVATION_SIZE
        for _ in range(depth):
            layers += [nn.Linear(width, hidden), nn.ReLU()]
            width = hidden
        layers.append(nn.Linear(width, vardelic_rl.NUM_ACTIONS))
        self.body = nn.Sequential(*layers)

    def forward(self, x: torch.Tensor) -> torch.Tensor:
        return self.body((x - self.mean) * self.inv_std)

    @classmethod
    def from_policy(cls, policy: NetworkPolicy) -> Net:
        widths = [w.shape[1] for w, _ in policy.layers[:-1]]
        if len(set(widths)) != 1:
            raise ValueError(f"hidden layers of unequal widths {widths}")
        net = cls(widths[0], len(widths), policy.mean, 1.0 / policy.inv_std)
        linears = [m for m in net.body if isinstance(m, nn.Linear)]
        with torch.no_grad():
            for layer, (w, b) in zip(linears, policy.layers, strict=True):
                layer.weight.copy_(torch.from_numpy(w.T))
                layer.bias.copy_(torch.from_numpy(b))
        return net

    def to_policy(self, counts: list[int]) -> NetworkPolicy:
        params = {"mean": self.mean.numpy(), "inv_std": self.inv_std.numpy()}
        linears = [m for m in self.body if isinstance(m, nn.Linear)]
        for i, layer in enumerate(linears):
            params[f"w{i}"] = layer.weight.detach().numpy().T.copy()
            params[f"b{i}"] = layer.bias.detach().numpy().copy()
        return NetworkPolicy(params, player_counts=counts)


def fit(net: Net, data: tuple, args: Args, generator: torch.Generator) -> float:
    """`args.epochs` passes of masked cross-entropy over all the data; returns the last pass's
    agreement with the search player's choices."""
    observations, masks, labels = (torch.as_tensor(a) for a in data)
    optimizer = torch.optim.Adam(net.parameters(), lr=args.learning_rate)
    steps = args.epochs * -(-len(labels) // args.batch)
    # Linear decay to a tenth: the late passes settle on the labels instead of jumping about.
    schedule = torch.optim.lr_scheduler.LinearLR(optimizer, 1.0, 0.1, total_iters=steps)
    agreement = 0.0
    for _ in tqdm(range(args.epochs), desc="fitting", unit="epoch", leave=False):
        order = torch.randperm(len(labels), generator=generator)
        hits = 0
        for start in range(0, len(order), args.batch):
            idx = order[start : start + args.batch]
            logits = net(observations[idx]).masked_fill(~masks[idx], -1e9)
            loss = nn.functional.cross_entropy(logits, labels[idx])
            optimizer.zero_grad()
            loss.backward()
            optimizer.step()
            schedule.step()
            hits += int((logits.argmax(-1) == labels[idx]).sum())
        agreement = hits / len(order)
    return agreement


def evaluate(policy: NetworkPolicy, num_players: int, games: int, seed: int) -> float:
    """Mean score of `games` games (each env's first) with the network in every seat."""
    env = vardelic_rl.VectorEnv(games, num_players, seed=seed)
    observations, masks = env.reset()
    totals = np.zeros(games)
    finished = np.zeros(games, bool)
    while not finished.all():
        observations, masks, rewards, terminations = env.step(policy.act(observations, masks))
        totals += np.where(finished, 0.0, rewards)
        finished |= terminations
    return float(totals.mean())


def main(argv: list[str] | None = None) -> None:
    args = parse_args(argv)
    counts = player_counts(args)
    torch.manual_seed(args.seed)
    generator = torch.Generator().manual_seed(args.seed)
    data: tuple | None = None
    net: Net | None = None
    history = load_history(args.history)
    scores: list[dict[int, float]] = []
    started = time.perf_counter()
    # Spawned workers: forking a process that already runs torch's threads is unsafe. One worker
    # plays in this process.
    pool = (
        multiprocessing.get_context("spawn").Pool(args.workers)
        if args.workers > 1
        else contextlib.nullcontext(InProcess())
    )
    with tempfile.TemporaryDirectory() as scratch, pool as pool:
        learner_path = args.init or None
        if learner_path:
            net = Net.from_policy(NetworkPolicy.load(learner_path))
        for round_index in range(args.rounds):
            new = collect(args, round_index, learner_path, pool)
            data = (
                new
                if data is None
                else tuple(np.concatenate(p) for p in zip(data, new, strict=True))
            )
            if net is None:  # standardise with the statistics of the search player's own games
                std = data[0].std(axis=0)
                net = Net(
                    args.hidden, args.depth, data[0].mean(axis=0), np.where(std > 1e-3, std, 1.0)
                )
            agreement = fit(net, data, args, generator)
            policy = net.to_policy(counts)
            learner_path = os.path.join(scratch, f"round{round_index}.npz")
            policy.save(learner_path)
            policy.save(args.out)
            scores.append({n: evaluate(policy, n, args.eval_games, 7_000_000 + n) for n in counts})
            shown = ", ".join(f"{n} players {s:.2f}" for n, s in scores[-1].items())
            seconds = time.perf_counter() - started
            print(
                f"round {round_index}: {len(data[2])} decisions, agreement {agreement:.3f}, "
                f"score {shown}, {seconds:.0f} s",
                flush=True,
            )
            history.append(
                {
                    "teacher_iterations": args.iterations,
                    "decisions": int(len(data[2])),
                    "agreement": agreement,
                    "scores": {str(n): s for n, s in scores[-1].items()},
                    "seconds": seconds,
                }
            )
            if args.history:
                with open(args.history, "w") as out:
                    json.dump(history, out, indent=1)
    if args.data:
        np.savez_compressed(args.data, observations=data[0], masks=data[1], labels=data[2])
    print(f"weights: {args.out}")
    if args.curve:
        plot(history, counts, args.eval_games, args.curve)
        print(f"curve: {args.curve}")


def load_history(path: str) -> list[dict]:
    if not path or not os.path.exists(path):
        return []
    with open(path) as f:
        return json.load(f)


def plot(history: list[dict], counts: list[int], eval_games: int, path: str) -> None:
    """Score per round; rounds whose teacher searched more are marked apart."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, ax = plt.subplots(figsize=(6.5, 3.8), dpi=100)
    rounds = range(len(history))
    for n in counts:
        ax.plot(rounds, [h["scores"].get(str(n), np.nan) for h in history], color="0.6", lw=1)
        for teacher in sorted({h["teacher_iterations"] for h in history}):
            picked = [i for i in rounds if history[i]["teacher_iterations"] == teacher]
            ax.plot(
                picked,
                [history[i]["scores"].get(str(n), np.nan) for i in picked],
                "o",
                label=f"{n} players, teacher: {teacher} iteration{'s' if teacher > 1 else ''}",
            )
    ax.set_xlabel("round (each: record the teacher's decisions, fit)")
    ax.set_ylabel(f"mean score, {eval_games} games")
    ax.set_xticks(list(rounds))
    ax.grid(alpha=0.3)
    ax.legend(loc="lower right", fontsize=8)
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


if __name__ == "__main__":
    main()
