"""The interactive player under hostile terminal input, driven through a subprocess: every line is
answered with one of the dialogue's messages or ends it with the read failure, never a crash or a
hang, and a failed dialogue leaves the game as it was.

Decided behaviour for odd bytes: a line that is not well-formed UTF-8 is not a line of text, so it
ends the dialogue with "Error reading input." (nothing of it is echoed); a NUL and other control
characters in a text line are echoed escaped (\\0, \\t, \\r, \\n, \\u{1b}), so the echo never
carries raw control bytes to the terminal."""

import os
import re
import subprocess
import sys
import textwrap

import pytest
from conftest import first_state
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

ACTIONS = len(first_state(1, seed=1).action_space())
U64 = 2**64

# Plays a seeded solo game with the interactive player; the state is dumped to standard error
# before and after, and the playout is tried `tries` times.
SCRIPT = """
import os, sys, vardelic
{prelude}
game = vardelic.VardelicGame([vardelic.players.InputPlayer()], seed=1)
game.print()
for _ in range({tries}):
    try:
        game.playout()
    except vardelic.EngineError as error:
        print("ENGINE:", error, file=sys.stdout if {to_stdout} else sys.stderr, flush=True)
game.print()
"""


def dialogue(stdin, *, tries=1, prelude="", to_stdout=True):
    """Runs the dialogue on `stdin` (bytes); returns (stdout bytes, the two dumps)."""
    env = {k: v for k, v in os.environ.items() if k not in ("CLICOLOR_FORCE", "CLICOLOR")}
    env["NO_COLOR"] = "1"
    code = textwrap.dedent(SCRIPT).format(prelude=prelude, tries=tries, to_stdout=to_stdout)
    done = subprocess.run(
        [sys.executable, "-c", code], input=stdin, capture_output=True, env=env, timeout=60
    )
    assert done.returncode == 0, done.stderr.decode(errors="replace")[-2000:]
    stderr = done.stderr.decode()
    dumps = re.findall(r"^\[[^\]\n]+\] &self\.state = PyState \{\n.*?^\}$", stderr, re.M | re.S)
    assert len(dumps) == 2, stderr[-2000:]
    return done.stdout, dumps, stderr


@pytest.fixture(scope="module")
def prompt():
    """The first turn's listing, as the dialogue writes it before reading anything."""
    out, dumps, _ = dialogue(b"")
    assert out.endswith(b"\nType number to select an action:\nENGINE: Error reading input.\n")
    assert dumps[0] == dumps[1]
    return out.removesuffix(b"ENGINE: Error reading input.\n")


# The dialogue's rules, restated for arbitrary lines --------------------------------------------

PARSE_FAILED, NO_MATCH = b"Failed to parse input ", b"Could not match input with any action. "


def parse(line):
    """The number a line answers, or None: blanks around an optional "+" and decimal digits."""
    text = line.strip(b" \t\n\r\f\v").removeprefix(b"+")
    if not text or not all(0x30 <= c <= 0x39 for c in text):
        return None
    digits = text.lstrip(b"0") or b"0"
    return int(digits) if len(digits) <= 20 and int(digits) < U64 else None


def quoted(line):
    """The line in the quoted debug form that the parse failure message shows."""
    named = {'"': b'\\"', "\\": b"\\\\", "\n": b"\\n", "\r": b"\\r", "\t": b"\\t", "\0": b"\\0"}
    out = bytearray(b'"')
    for c in line.decode("utf-8"):  # an ill-formed line never gets this far
        if c in named:
            out += named[c]
        elif ord(c) < 0x20 or 0x7F <= ord(c) <= 0x9F:  # C0, DEL and C1 controls
            out += b"\\u{%02x}" % ord(c)
        else:
            out += c.encode("utf-8")
    return bytes(out + b'"')


def reply(line):
    """What the dialogue writes for a line that does not select an action."""
    number = parse(line)
    if number is None:
        return PARSE_FAILED + quoted(line) + b". Please try again!\n"
    assert number >= ACTIONS
    return NO_MATCH + b"Please try again!\n"


# Single hostile lines ----------------------------------------------------------------------------

REJECTED = {
    "megabytes of text": b"x" * (3 << 20),
    "a megabyte of digits": b"9" * (1 << 20),
    "beyond 64 bits": str(U64).encode(),
    "far beyond 64 bits": b"1" + b"0" * 400,
    "the largest 64-bit number": str(U64 - 1).encode(),
    "a number just past the list": str(ACTIONS).encode(),
    "minus": b"-1",
    "minus zero": b"-0",
    "two signs": b"+-1",
    "double plus": b"++1",
    "a bare plus": b"+",
    "a sign apart": b"+ 1",
    "whitespace only": b" \t \r\f\v ",
    "empty": b"",
    "NUL bytes": b"1\x002\x00",
    "only a NUL": b"\x00",
    "escape sequences": b"\x1b[2J\x1b]0;title\x07\x7f",
    "quotes and backslashes": b'"1" \\ \\n',
    "a carriage return inside": b"1\r2",
    "a non-ASCII digit": "٣".encode(),
    "a fullwidth digit": "１".encode(),
    "hex and exponents": b"0x1 1e3 1_0",
    "a non-breaking space": "\u00a01".encode(),
}


@pytest.mark.parametrize("line", REJECTED.values(), ids=REJECTED.keys())
def test_rejected_line_is_answered_then_the_game_is_unchanged(prompt, line):
    out, dumps, _ = dialogue(line + b"\n")
    assert out == prompt + reply(line + b"\n") + b"ENGINE: Error reading input.\n"
    assert dumps[0] == dumps[1]
    if b"\x00" in line or b"\x1b" in line:
        assert out.count(b"\x00") == 0 and out.count(b"\x1b") == 0


ACCEPTED = {
    "a megabyte of blanks around it": b" " * (1 << 20) + b"1" + b"\t" * 1000,
    "hundreds of leading zeros": b"0" * 500 + b"3",
    "a plus sign": b"+2",
    "a Windows line end": b"0\r",
}


@pytest.mark.parametrize("line", ACCEPTED.values(), ids=ACCEPTED.keys())
def test_accepted_line_ends_the_turn(prompt, line):
    out, dumps, _ = dialogue(line + b"\n")
    rest = out.removeprefix(prompt)
    assert rest != out and rest.startswith(b"=" * 60 + b"\nCurrent player: PlayerId(0)\n")
    assert PARSE_FAILED not in rest and NO_MATCH not in rest
    assert rest.endswith(b"Type number to select an action:\nENGINE: Error reading input.\n")
    assert dumps[0] != dumps[1]  # the first turn was played


ILL_FORMED = {
    "stray bytes": b"\xff\xfe",
    "a lone continuation byte": b"\x80",
    "an overlong NUL": b"\xc0\x80",
    "an overlong slash": b"\xe0\x80\xaf",
    "a surrogate": b"\xed\xa0\x80",
    "above U+10FFFF": b"\xf4\x90\x80\x80",
    "a cut sequence": b"1\xe2\x82",
    "valid text then a bad byte": b"12\xff",
}


@pytest.mark.parametrize("line", ILL_FORMED.values(), ids=ILL_FORMED.keys())
def test_ill_formed_utf8_is_a_read_failure(prompt, line):
    out, dumps, _ = dialogue(b"abc\n" + line + b"\n0\n")
    assert out == prompt + reply(b"abc\n") + b"ENGINE: Error reading input.\n"
    assert dumps[0] == dumps[1]


# End of input ------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "stdin, replies",
    [
        (b"", []),
        (b"abc", [b"abc"]),  # a last line without its line end
        (b"abc\n99", [b"abc\n", b"99"]),
        (b"\n\n\n", [b"\n"] * 3),
    ],
)
def test_end_of_input_mid_dialogue(prompt, stdin, replies):
    out, dumps, _ = dialogue(stdin, tries=3)
    # Every later playout finds the input at its end too, and fails at once instead of waiting.
    failures = b"ENGINE: Error reading input.\n"
    expected = prompt + b"".join(reply(r) for r in replies) + failures + (prompt + failures) * 2
    assert out == expected
    assert dumps[0] == dumps[1]


def test_closed_streams_fail_cleanly(prompt):
    # No standard input at all: a read failure, not a crash.
    out, dumps, _ = dialogue(b"", prelude="os.close(0)")
    assert out == prompt + b"ENGINE: Error reading input.\n"
    assert dumps[0] == dumps[1]
    # No standard output: the dialogue still reads its answers and ends at the end of input.
    out, dumps, stderr = dialogue(b"abc\n7x\n", prelude="os.close(1)", to_stdout=False)
    assert out == b"" and "ENGINE: Error reading input." in stderr
    assert dumps[0] == dumps[1]


# Arbitrary lines ---------------------------------------------------------------------------------

numbers = st.builds(
    lambda blank1, sign, digits, blank2: blank1 + sign + digits + blank2,
    st.text(" \t\r\x0b\x0c", max_size=3),
    st.sampled_from(["", "+", "-", "++", "+-"]),
    st.one_of(st.text("0123456789", max_size=25), st.integers(0, 2**70).map(str)),
    st.text(" \t\r\x0b\x0c", max_size=3),
)
lines = st.one_of(
    numbers, st.text(max_size=30), st.text('\x00\x01\x1b\x7f"\\\r\t 0123', max_size=8)
).map(lambda text: text.replace("\n", "").encode())
rejected_lines = lines.filter(
    lambda line: parse(line + b"\n") is None or parse(line + b"\n") >= ACTIONS
)


@settings(
    max_examples=12,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.function_scoped_fixture],
)
@given(answers=st.lists(rejected_lines, min_size=1, max_size=25), cut=st.booleans())
def test_any_rejected_lines(prompt, answers, cut):
    stdin = b"".join(line + b"\n" for line in answers)
    if cut:  # the input ends in the middle of the last line
        stdin = stdin[:-1]
    out, dumps, _ = dialogue(stdin)
    sent = [line + b"\n" for line in answers]
    if cut:
        sent[-1] = answers[-1]
    sent = [line for line in sent if line]  # an empty cut line is just the end of input
    assert (
        out == prompt + b"".join(reply(line) for line in sent) + b"ENGINE: Error reading input.\n"
    )
    assert dumps[0] == dumps[1]


def test_end_of_input_at_a_terminal_is_not_final():
    # At a terminal the end of input is a key press, not the end of the stream: the dialogue
    # of a later playout reads the terminal again.
    import pty
    import select

    master, slave = pty.openpty()
    code = textwrap.dedent(SCRIPT).format(prelude="", tries=2, to_stdout=True)
    env = {k: v for k, v in os.environ.items() if k not in ("CLICOLOR_FORCE", "CLICOLOR")}
    env["NO_COLOR"] = "1"
    process = subprocess.Popen(
        [sys.executable, "-c", code],
        stdin=slave,
        stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL,
        env=env,
    )
    os.close(slave)
    output = b""

    def wait_for(count, text):
        nonlocal output
        while output.count(text) < count:
            ready, _, _ = select.select([process.stdout], [], [], 30)
            assert ready, f"no {text!r} in time; got {output[-300:]!r}"
            chunk = os.read(process.stdout.fileno(), 65536)
            assert chunk, f"output ended before {text!r}; got {output[-300:]!r}"
            output += chunk

    ask, failed = b"Type number to select an action:\n", b"ENGINE: Error reading input.\n"
    try:
        wait_for(1, ask)
        os.write(master, b"\x04")  # the terminal's end-of-input key
        wait_for(1, failed)
        wait_for(2, ask)
        os.write(master, b"0\n")
        wait_for(3, ask)  # the answer was read: the next turn asks again
        os.write(master, b"\x04")
        wait_for(2, failed)
        assert process.wait(timeout=30) == 0
    finally:
        process.kill()
        process.wait()
        os.close(master)
    assert output.count(b"Failed to parse input") == 0
