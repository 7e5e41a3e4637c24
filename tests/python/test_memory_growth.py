"""Long runs must not grow the process: 100,000 short games and 10,000 search decisions in one
fresh interpreter, whose resident memory at the end of the first tenth and at the end may
differ by less than 5 %. A fresh interpreter keeps the baseline small (the module and little
else), so a leak of a few bytes per game already shows."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

GAMES = 100_000
DECISIONS = 10_000
ROUNDS = 10

WORKLOAD = textwrap.dedent(
    """
    import json, sys, time
    import vardelic
    from vardelic import players

    games, decisions, rounds = map(int, sys.argv[1:4])


    class Stop(Exception):
        pass


    def first_state(num_players, seed):
        captured = []

        class Grab:
            def play(self, state):
                captured.append(state)
                raise Stop

        try:
            vardelic.VardelicGame([Grab() for _ in range(num_players)], seed).playout()
        except Stop:
            pass
        return captured[0]


    def memory():
        status = dict(line.split(":", 1) for line in open("/proc/self/status"))
        kib = lambda key: int(status[key].split()[0])
        # Not getrusage's ru_maxrss: it keeps the parent's peak across the exec.
        return {"vm_hwm_kib": kib("VmHWM"), "vm_rss_kib": kib("VmRSS")}


    states = [first_state(n, seed) for seed in range(4) for n in (1, 2)]
    searcher = players.MCTSPlayer(8, 1, True)
    played = decided = 0
    marks = []
    start = time.perf_counter()
    for r in range(rounds):
        base = r * (games // rounds)
        for i in range(base, base + games // rounds):
            result = vardelic.VardelicGame([players.RandomPlayer(seed=i)], seed=i).playout()
            played += 0 <= int(result) <= 12
        for i in range(decisions // rounds):
            if i % 100 == 0:
                searcher = players.MCTSPlayer(8, 1, True, None, 1 + i % 2)
            state = states[i % len(states)]
            decided += searcher.play(state) in state.action_space() and bool(searcher.ranked_actions())
        marks.append(memory())
    print(json.dumps({"first": marks[0], "last": marks[-1], "played": played, "decided": decided,
                      "seconds": time.perf_counter() - start}))
    """
)


@pytest.mark.skipif(
    bool(os.environ.get("VARDELIC_SANITIZER")),
    reason="measures memory of the plain build; a sanitizer's shadow memory swamps it",
)
def test_long_run_does_not_grow_resident_memory(capsys):
    done = subprocess.run(
        [sys.executable, "-c", WORKLOAD, str(GAMES), str(DECISIONS), str(ROUNDS)],
        capture_output=True,
        text=True,
        timeout=900,
    )
    assert done.returncode == 0, done.stderr
    figures = json.loads(done.stdout.splitlines()[-1])
    first, last = figures["first"], figures["last"]
    growth = {key: (last[key] - first[key]) / first[key] for key in ("vm_hwm_kib", "vm_rss_kib")}
    with capsys.disabled():  # a report line even under -q
        print(
            f"\nmemory after the first tenth -> after {GAMES} games and {DECISIONS} decisions: "
            f"peak {first['vm_hwm_kib']} -> {last['vm_hwm_kib']} KiB ({growth['vm_hwm_kib']:+.2%}), "
            f"resident {first['vm_rss_kib']} -> {last['vm_rss_kib']} KiB "
            f"({growth['vm_rss_kib']:+.2%}); {figures['seconds']:.1f} s"
        )
    # Every game ended with a score, every decision was legal and left a ranking.
    assert (figures["played"], figures["decided"]) == (GAMES, DECISIONS)
    assert growth["vm_hwm_kib"] < 0.05 and growth["vm_rss_kib"] < 0.05, (first, last)
