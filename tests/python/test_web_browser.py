"""The page in a real browser (Debian's chromium, driven by Playwright): a whole game played by
clicking only, its record saved from the page and replayed by the engine, then the replay view.

VARDELIC_WEB_SCREENSHOTS=DIR also saves the table mid-game and the replay view there.
"""

import os
import shutil
import socket
import threading
import time

import pytest

pytest.importorskip("fastapi")
uvicorn = pytest.importorskip("uvicorn")
sync_api = pytest.importorskip("playwright.sync_api")

from vardelic import card  # noqa: E402
from vardelic_web import create_app, engine  # noqa: E402

CHROMIUM = os.environ.get("VARDELIC_CHROMIUM", "/usr/bin/chromium")
if os.environ.get("VARDELIC_SANITIZER"):
    # The sanitizer runtime preloaded for the module would be preloaded into the browser too;
    # the page's server side runs under the sanitizer in test_web_api.py.
    pytest.skip("the browser does not run under the sanitizer preload", allow_module_level=True)
if not shutil.which(CHROMIUM):
    pytest.skip(
        f"no browser at {CHROMIUM} (tools/test-all installs Debian's chromium)",
        allow_module_level=True,
    )

# A number card attacks with its value; the others as the rules say.
ATTACK = {repr(v).removeprefix("CardValue."): int(v) for v in card.CardValue.numbers()} | {
    "Jester": 0,
    "Jack": 10,
    "Queen": 15,
    "King": 20,
}


@pytest.fixture(scope="module")
def server():
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    port = sock.getsockname()[1]
    sock.close()
    config = uvicorn.Config(create_app(), host="127.0.0.1", port=port, log_level="warning")
    srv = uvicorn.Server(config)
    thread = threading.Thread(target=srv.run, daemon=True)
    thread.start()
    deadline = time.monotonic() + 20
    while not srv.started:
        assert time.monotonic() < deadline, "the server did not start"
        time.sleep(0.05)
    yield f"http://127.0.0.1:{port}/"
    srv.should_exit = True
    thread.join(10)


@pytest.fixture(scope="module")
def browser():
    with sync_api.sync_playwright() as playwright:
        chromium = playwright.chromium.launch(
            executable_path=CHROMIUM, args=["--no-sandbox"], headless=True
        )
        yield chromium
        chromium.close()


def _wait_for_turn(page, after_moves):
    """Waits until the page shows a position past `after_moves` where the person acts (or the
    end); returns the status element's state."""
    status = page.get_by_test_id("status")
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        # One read of both attributes: the page may move between two reads.
        state, moves = status.evaluate("s => [s.dataset.state, Number(s.dataset.moves ?? -1)]")
        if state in ("play", "discard", "jester", "over") and moves > after_moves:
            return state, moves
        assert state != "error", status.text_content()
        page.wait_for_timeout(20)
    raise AssertionError(f"no turn after move {after_moves}: {status.text_content()!r}")


def _hand(page):
    cards = page.get_by_role("group", name="Your hand").get_by_role("button")
    return [(cards.nth(i), cards.nth(i).get_attribute("data-value")) for i in range(cards.count())]


def _play_by_clicking(page, shots, shot_at=6):
    """Plays the person's seat to the end; returns how many jesters were played."""
    confirm = page.locator("#confirm")
    jesters = moves = turns = 0
    while True:
        state, moves = _wait_for_turn(page, moves - 1 if turns == 0 else moves)
        turns += 1
        if state == "over":
            return jesters
        if state == "jester":
            page.get_by_role("group", name="Next player").get_by_role("button").first.click()
        elif state == "discard":
            # Highest cards first until the selection covers what is owed.
            for card, _ in sorted(_hand(page), key=lambda cv: -ATTACK[cv[1]]):
                card.click()
                if confirm.is_enabled():
                    break
            preview = page.get_by_test_id("preview")
            assert preview.get_attribute("data-legal") == "true", preview.text_content()
            confirm.click()
        else:
            hand = _hand(page)
            if not hand:
                page.get_by_role("button", name="Yield").click()
            else:
                jester = [c for c, value in hand if value == "Jester"]
                card = jester[0] if jester else max(hand, key=lambda cv: ATTACK[cv[1]])[0]
                jesters += bool(jester)
                card.click()
                preview = page.get_by_test_id("preview")
                assert preview.get_attribute("data-legal") == "true", (
                    preview.text_content(),
                    [v for _, v in hand],
                )
                if shots and turns == shot_at:
                    page.screenshot(path=os.path.join(shots, "web-table.png"), full_page=True)
                page.get_by_role("button", name="Play", exact=True).click()


@pytest.mark.parametrize(
    "seats, seed",
    [
        (["ismcts(iterations=200,seed=1)"], 7),
        (["random", "ismcts(iterations=200,seed=2)"], 3),  # the person holds a jester
    ],
)
def test_a_game_played_by_clicking_replays_to_the_score_shown(
    server, browser, tmp_path, seats, seed
):
    shots = os.environ.get("VARDELIC_WEB_SCREENSHOTS") if len(seats) == 1 else None
    page = browser.new_page(viewport={"width": 1400, "height": 700}, accept_downloads=True)
    errors = []
    page.on("pageerror", lambda error: errors.append(error))
    page.goto(server)
    page.get_by_label("Players").select_option(str(len(seats) + 1))
    for index, spec in enumerate(seats):
        page.get_by_label(f"Player {index + 2} seat").fill(spec)
    page.get_by_label("Seed").fill(str(seed))
    page.get_by_role("button", name="Start").click()
    page.get_by_label("Computer delay").fill("0")

    jesters = _play_by_clicking(page, shots)
    if len(seats) > 1:
        assert jesters >= 1
    shown = int(page.get_by_test_id("final-score").text_content())
    with page.expect_download() as download:
        page.get_by_role("button", name="Save record").click()
    path = tmp_path / "game.json"
    download.value.save_as(path)
    text = path.read_text()
    record = engine.parse_record(text)
    assert record.seed == seed and record.num_players == len(seats) + 1
    assert int(record.replay().reward) == shown == record.score

    # The replay view: open the saved file, step, and see the same end.
    page.get_by_role("tab", name="Replay").click()
    page.get_by_label("Record file").set_input_files(str(path))
    page.get_by_role("button", name="Open").click()
    position = page.get_by_test_id("replay-position")
    sync_api.expect(position).to_have_text(f"move 0 / {len(record.moves)}")
    for _ in range(5):
        page.get_by_role("button", name="Forward").click()
    sync_api.expect(position).to_have_text(f"move 5 / {len(record.moves)}")
    if shots:
        page.screenshot(path=os.path.join(shots, "web-replay.png"), full_page=True)
    page.get_by_role("button", name="Back").click()
    sync_api.expect(position).to_have_text(f"move 4 / {len(record.moves)}")
    page.get_by_role("button", name="Last move").click()
    sync_api.expect(page.get_by_test_id("final-score")).to_have_text(str(shown))
    assert errors == []
    page.close()


def test_watching_computer_players_steps_plays_and_pauses(server, browser):
    page = browser.new_page(viewport={"width": 1400, "height": 700})
    page.goto(server)
    page.get_by_role("tab", name="Watch").click()
    page.get_by_label("Players").select_option("3")
    for index, spec in enumerate(["random", "mcts(p=50)", "ismcts(iterations=50)"]):
        page.get_by_label(f"Player {index + 1} seat").fill(spec)
    page.get_by_label("Seed").fill("4")
    page.get_by_role("button", name="Start").click()
    status = page.get_by_test_id("status")
    sync_api.expect(status).to_have_attribute("data-moves", "0")
    page.get_by_role("button", name="Step").click()
    sync_api.expect(status).to_have_attribute("data-moves", "1")
    page.get_by_label("View").select_option("2")
    sync_api.expect(page.locator("#hand-title")).to_have_text("Player 3's hand")
    assert page.get_by_role("group", name="Player 3's hand").locator(".card").count() > 0

    page.get_by_label("Computer delay").fill("0")
    page.get_by_role("button", name="Play", exact=True).click()
    page.wait_for_function("() => Number(document.getElementById('status').dataset.moves) >= 6")
    page.get_by_role("button", name="Pause").click()
    page.wait_for_timeout(300)  # a step already sent may still land
    paused = status.get_attribute("data-moves")
    page.wait_for_timeout(500)
    assert status.get_attribute("data-moves") == paused
    page.close()
