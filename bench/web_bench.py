"""The web table over loopback: a computer seat's move as the person sees it, and many tables
played at once.

Starts ``vardelic-web`` as its own process on a free port and talks to it as a page does
(HTTP for actions, the WebSocket for pushed views):

- ``computer_move_ms``: from sending the person's action to receiving the pushed view of the
  ``ismcts(time_ms=20)`` seat's reply, over two-player games; the person plays random legal ids.
- ``concurrent_tables``: that many tables (a person played by this script with random legal
  ids, and a random seat) started at once and played to the end concurrently; every one must
  finish without an error. Reports the wall time and the server's peak resident memory.

    python bench/web_bench.py [--moves N] [--tables N] [--json PATH]
"""

import argparse
import asyncio
import json
import os
import random
import re
import subprocess
import sys
import time

import httpx2 as httpx
import numpy as np
import websockets


def start_server(max_tables: int) -> tuple[subprocess.Popen, str]:
    process = subprocess.Popen(
        [sys.executable, "-m", "vardelic_web.cli", "--port", "0", "--max-tables", str(max_tables)],
        stdout=subprocess.PIPE,
        text=True,
        env={**os.environ, "PYTHONUNBUFFERED": "1"},
    )
    line = process.stdout.readline()
    match = re.search(r"http://([\d.]+:\d+)/", line)
    if not match:
        process.kill()
        raise RuntimeError(f"vardelic-web printed no address: {line!r}")
    return process, match[1]


def peak_rss_mib(pid: int) -> float:
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


async def play_table(client, address, seats, seed, rng, on_reply=None):
    """Plays the person's seat with random legal ids to the end; returns the final message.
    on_reply(seconds) gets the time from each action to the first pushed computer move."""
    response = await client.post("/api/tables", json={"seats": seats, "seed": seed})
    if response.status_code != 201:
        raise RuntimeError(f"table refused: {response.text}")
    created = response.json()
    table, token = created["table"], created["token"]
    headers = {"Authorization": f"Bearer {token}"}
    url = f"ws://{address}/api/tables/{table}/events?token={token}"
    async with websockets.connect(url, max_size=2**22) as ws:
        acted_at = -1
        sent = None  # (moves after our action, send time)
        while True:
            message = json.loads(await ws.recv())
            view = message["view"]
            if message["error"]:
                raise RuntimeError(message["error"])
            if sent and message["moves"] > sent[0]:
                if on_reply:
                    on_reply(time.perf_counter() - sent[1])
                sent = None
            if view["over"]:
                return message
            if view["legal"] and message["moves"] > acted_at:
                acted_at = message["moves"]
                choice = rng.choice(view["legal"])["id"]
                start = time.perf_counter()
                answer = await client.post(
                    f"/api/tables/{table}/actions", json={"action": choice}, headers=headers
                )
                answer.raise_for_status()
                after = answer.json()
                # Time a reply only when the turn passed to the computer seat.
                if not after["view"]["over"] and after["view"]["to_move"] != after["human"]:
                    sent = (after["moves"], start)


async def computer_moves(address: str, moves: int) -> list[float]:
    samples: list[float] = []
    rng = random.Random(1)
    async with httpx.AsyncClient(base_url=f"http://{address}") as client:
        seed = 0
        while len(samples) < moves:
            await play_table(
                client, address, ["human", "ismcts(time_ms=20)"], seed, rng, samples.append
            )
            seed += 1
    return samples[:moves]


async def concurrent(address: str, tables: int) -> tuple[int, float]:
    limits = httpx.Limits(max_connections=64)  # the load script is bounded, the tables are not
    async with httpx.AsyncClient(base_url=f"http://{address}", limits=limits, timeout=60) as client:
        start = time.perf_counter()
        results = await asyncio.gather(
            *(
                play_table(client, address, ["human", "random"], seed, random.Random(seed))
                for seed in range(tables)
            ),
            return_exceptions=True,
        )
        seconds = time.perf_counter() - start
    failed = [r for r in results if isinstance(r, BaseException)]
    if failed:
        raise RuntimeError(f"{len(failed)} of {tables} tables failed, e.g. {failed[0]!r}")
    return sum(1 for r in results if r["view"]["over"]), seconds


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--moves", type=int, default=200, help="computer replies to time")
    parser.add_argument("--tables", type=int, default=100, help="tables played at once")
    parser.add_argument("--json", metavar="PATH")
    args = parser.parse_args()

    server, address = start_server(max_tables=max(256, args.tables))
    try:
        samples = np.array(asyncio.run(computer_moves(address, args.moves))) * 1000
        finished, seconds = asyncio.run(concurrent(address, args.tables))
        peak = peak_rss_mib(server.pid)
    finally:
        server.terminate()
        server.wait(20)
    p50, p95 = np.percentile(samples, [50, 95])
    print(
        f"ismcts(time_ms=20) reply, action to pushed view: p50 {p50:.1f} ms, p95 {p95:.1f} ms "
        f"({len(samples)} moves)"
    )
    print(
        f"{finished} random-seat tables played to the end at once in {seconds:.1f} s; "
        f"server peak memory {peak:.0f} MiB"
    )
    if args.json:
        with open(args.json, "w") as out:
            figures = {
                "computer_move_ms": {"p50": p50, "p95": p95, "moves": len(samples)},
                "concurrent_tables": finished,
                "concurrent_tables_seconds": seconds,
                "server_peak_rss_mib": peak,
            }
            json.dump({"web": figures}, out, indent=2)


if __name__ == "__main__":
    main()
