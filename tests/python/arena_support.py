"""Shared helpers of the arena tests: import path, CLI subprocesses, and the
interrupt-then-resume scenario run against either engine."""

import json
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCE = HERE.parent.parent / "python"

# The checkout's package when nothing else provides it. Appended, not put first: the folder
# also holds vardelic_rl and vardelic_agents without their built extension modules, which must
# come from the install or the build folder on PYTHONPATH.
if (SOURCE / "vardelic_arena").is_dir() and str(SOURCE) not in sys.path:
    sys.path.append(str(SOURCE))
import vardelic_arena  # noqa: E402

PACKAGE_ROOT = Path(vardelic_arena.__file__).resolve().parent.parent
TIMING_KEYS = ("seconds_per_game", "seconds_per_decision")


def env(**extra) -> dict:
    environ = dict(os.environ)
    paths = [p for p in environ.get("PYTHONPATH", "").split(os.pathsep) if p] + [
        str(PACKAGE_ROOT),
        str(HERE),
    ]
    environ["PYTHONPATH"] = os.pathsep.join(paths)
    environ.update(extra)
    return environ


def cli(*args, timeout=120, cmd=None, **extra_env) -> subprocess.CompletedProcess:
    command = cmd or [sys.executable, "-m", "vardelic_arena"]
    return subprocess.run(
        [*command, *map(str, args)],
        capture_output=True,
        text=True,
        env=env(**extra_env),
        timeout=timeout,
        cwd=HERE,
    )


def figures(path) -> dict:
    """Summary JSON without the wall-clock figures, which differ run to run."""
    data = json.loads(Path(path).read_text())
    for team in data["teams"]:
        for key in TIMING_KEYS:
            team.pop(key)
    return data


def lines(path) -> list[dict]:
    return [json.loads(line) for line in Path(path).read_text().splitlines() if line.strip()]


def interrupt_then_resume(tmp_path, args, min_lines, sig=signal.SIGINT, **extra_env):
    """Run the CLI with --out, send it `sig` once min_lines games are in, resume.

    Returns (interrupted process, lines kept at the interrupt, resumed
    process, final summary figures).
    """
    out = tmp_path / "sweep.jsonl"
    command = [
        sys.executable,
        "-m",
        "vardelic_arena",
        *map(str, args),
        "--out",
        str(out),
        "--json",
        str(tmp_path / "partial.json"),
    ]
    # A shell that starts a job in the background makes it ignore SIGINT, and children inherit
    # that: give the sweep the default handling, as an interactive terminal would.
    proc = subprocess.Popen(
        command,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=env(**extra_env),
        cwd=HERE,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    )
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and proc.poll() is None:
        if out.exists() and len(out.read_text().splitlines()) >= min_lines:
            break
        time.sleep(0.02)
    assert proc.poll() is None, "the sweep ended before it could be interrupted"
    proc.send_signal(sig)
    stdout, stderr = proc.communicate(timeout=60)
    interrupted = subprocess.CompletedProcess(command, proc.returncode, stdout, stderr)
    kept = lines(out)
    resumed = cli(*args, "--out", out, "--resume", "--json", tmp_path / "final.json", **extra_env)
    return interrupted, kept, resumed, figures(tmp_path / "final.json")
