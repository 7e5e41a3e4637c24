"""Speed of the learning environments: VectorEnv batches on 1 and 2 threads, one Game.

VectorEnv: 1,024 games of 2 players, each step drawing one uniform legal id per game from the
masks with a vectorised numpy draw; observations and masks are produced at every step. The
steps per second count env.step alone; the draw's own cost is timed beside it. Game: one game
stepped from Python, reading its mask and picking a legal id at every step, games restarted as
they end. Every figure is the best of several rounds (the machine is shared).

    python bench/rl_bench.py [--json PATH] [--envs 1024] [--steps 200] [--rounds 5]
"""

import argparse
import json
import time

import numpy as np
import vardelic_rl as rl


def draw(masks, rng):
    """A uniform legal id per row: the largest random key among the legal ids."""
    return np.argmax(rng.random(masks.shape, dtype=np.float32) * masks, axis=1)


def vector_round(envs, threads, steps, seed):
    """(seconds in env.step, seconds drawing ids) over `steps` batch steps."""
    env = rl.VectorEnv(envs, 2, seed=seed, num_threads=threads)
    _, masks = env.reset()
    rng = np.random.default_rng(seed)
    stepping = drawing = 0.0
    for _ in range(steps):
        start = time.perf_counter()
        actions = draw(masks, rng)
        middle = time.perf_counter()
        _, masks, _, _ = env.step(actions)
        stepping += time.perf_counter() - middle
        drawing += middle - start
    return stepping, drawing


def game_round(steps, seed):
    """Seconds for `steps` steps of one Game at a time, mask read and an id picked each step."""
    rng = np.random.default_rng(seed)
    picks = rng.random(steps).tolist()
    game = rl.Game(2, seed=seed)
    start = time.perf_counter()
    for pick in picks:
        if game.done:
            game = rl.Game(2, seed=seed)
            seed += 1
        ids = game.action_mask().nonzero()[0]
        game.step(int(ids[int(pick * len(ids))]))
    return time.perf_counter() - start


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", metavar="PATH")
    parser.add_argument("--envs", type=int, default=1024)
    parser.add_argument("--steps", type=int, default=200)
    parser.add_argument("--game-steps", type=int, default=100_000)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    figures = {"vector_steps_per_second": {}}
    for threads in (1, 2):
        best_step, best_draw = float("inf"), float("inf")
        for r in range(args.rounds):
            stepping, drawing = vector_round(args.envs, threads, args.steps, seed=r)
            best_step, best_draw = min(best_step, stepping), min(best_draw, drawing)
        game_steps = args.envs * args.steps
        figures["vector_steps_per_second"][f"threads_{threads}"] = game_steps / best_step
        figures.setdefault("draw_ids_per_second", game_steps / best_draw)
        figures["draw_ids_per_second"] = max(figures["draw_ids_per_second"], game_steps / best_draw)
    vector = figures["vector_steps_per_second"]
    figures["scaling_2_threads"] = vector["threads_2"] / vector["threads_1"]
    best_game = min(game_round(args.game_steps, seed=r) for r in range(args.rounds))
    figures["game_steps_per_second"] = args.game_steps / best_game

    print(
        f"VectorEnv({args.envs}, 2): env.step, game steps per second: "
        f"{vector['threads_1']:,.0f} (1 thread), {vector['threads_2']:,.0f} (2 threads), "
        f"scaling {figures['scaling_2_threads']:.2f}x"
    )
    print(f"vectorised draw of the ids alone: {figures['draw_ids_per_second']:,.0f} ids per second")
    print(f"Game(2) stepped from Python: {figures['game_steps_per_second']:,.0f} steps per second")
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({"rl": figures}, f, indent=2)


if __name__ == "__main__":
    main()
