"""The web table's HTTP API in-process (FastAPI's TestClient): whole games over HTTP, refused
requests that change nothing, and no message that shows a card of another seat."""

import json
import os
import random
import signal
import subprocess
import sys
import time

import pytest

pytest.importorskip("fastapi")
pytest.importorskip("httpx2")  # what the TestClient runs on
from fastapi.testclient import TestClient  # noqa: E402
from vardelic_web import create_app, engine  # noqa: E402


@pytest.fixture
def client():
    with TestClient(create_app()) as c:
        yield c


def sit(client, seats, seed=None):
    body = {"seats": seats} if seed is None else {"seats": seats, "seed": seed}
    response = client.post("/api/tables", json=body)
    assert response.status_code == 201, response.text
    created = response.json()
    return created["table"], {"Authorization": f"Bearer {created['token']}"}, created


def wait_turn(client, table, auth, timeout=30.0):
    """The message once the person is to move or the game is over."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        message = client.get(f"/api/tables/{table}", headers=auth).json()
        view = message["view"]
        if view["over"] or view["legal"]:
            return message
        time.sleep(0.01)
    raise AssertionError("the computer seats did not hand the turn back")


def cards_in(value):
    """Every card dict anywhere inside a JSON value."""
    if isinstance(value, dict):
        if set(value) == {"suit", "value", "text"}:
            yield (value["suit"], value["value"])
        else:
            for item in value.values():
                yield from cards_in(item)
    elif isinstance(value, list):
        for item in value:
            yield from cards_in(item)


def keys_in(value):
    if isinstance(value, dict):
        for key, item in value.items():
            yield key
            yield from keys_in(item)
    elif isinstance(value, list):
        for item in value:
            yield from keys_in(item)


def test_a_whole_game_over_http_replays_from_its_record(client):
    table, auth, created = sit(client, ["human", "ismcts(iterations=100,seed=1)"], seed=11)
    assert created["seat"] == 0
    assert client.get(f"/api/tables/{table}/record", headers=auth).status_code == 409
    played = 0
    while not (message := wait_turn(client, table, auth))["view"]["over"]:
        legal = message["view"]["legal"]
        assert [a["id"] for a in legal] == sorted(a["id"] for a in legal)
        response = client.post(
            f"/api/tables/{table}/actions", headers=auth, json={"action": legal[-1]["id"]}
        )
        assert response.status_code == 200, response.text
        assert response.json()["moves"] > message["moves"]
        played += 1
    view = message["view"]
    record = engine.parse_record(client.get(f"/api/tables/{table}/record", headers=auth).text)
    assert (record.seed, record.seats) == (11, ("human", "ismcts(iterations=100,seed=1)"))
    assert len(record.moves) == message["moves"] == len(message["log"]) > played > 0
    assert int(record.replay().reward) == view["score"] == record.score
    assert [entry["player"] for entry in message["log"]].count(0) == played

    replay = client.post("/api/replays", json={"record": record.to_json()}).json()
    assert len(replay["frames"]) == len(record.moves) + 1
    assert replay["frames"][-1]["views"][1]["score"] == view["score"]


@pytest.mark.parametrize("num_players", [1, 2, 3, 4])
def test_no_message_holds_a_card_of_another_seat(client, num_players):
    """Every message the person's seat gets (GET, POST answers, WebSocket pushes) of seeded
    games, checked against every other hand at that position; and no seed while running."""
    rng = random.Random(num_players)
    for game in range(4):
        seat = game % num_players
        seats = ["random"] * num_players
        seats[seat] = "human"
        table, auth, _ = sit(client, seats, seed=100 * num_players + game)
        token = auth["Authorization"].split()[1]
        messages = []
        with client.websocket_connect(f"/api/tables/{table}/events?token={token}") as ws:
            acted = -1
            while True:
                message = ws.receive_json()
                messages.append(message)
                view = message["view"]
                if view["over"]:
                    break
                if view["legal"] and message["moves"] > acted:
                    acted = message["moves"]
                    choice = rng.choice(view["legal"])["id"]
                    answer = client.post(
                        f"/api/tables/{table}/actions", headers=auth, json={"action": choice}
                    )
                    messages.append(answer.json())
                    messages.append(client.get(f"/api/tables/{table}", headers=auth).json())
        record = engine.parse_record(client.get(f"/api/tables/{table}/record", headers=auth).text)
        game_at = record.replay(upto=0)
        hands = []
        for move in [*record.moves, None]:
            hands.append(
                [
                    {(c["suit"], c["value"]) for c in game_at.view(p)["hand"]}
                    for p in range(num_players)
                ]
            )
            if move is not None:
                game_at.step(move)
        for message in messages:
            assert message["seat"] == seat and message["view"]["player"] == seat
            others = set().union(*(h for p, h in enumerate(hands[message["moves"]]) if p != seat))
            others.discard((None, "Jester"))  # four players hold two identical jesters
            assert not others & set(cards_in(message["view"])), message["moves"]
            assert not others & set(cards_in(message["log"]))  # the log: only played cards
            if not message["view"]["over"]:
                assert "seed" not in set(keys_in(message))


def test_refused_requests_change_nothing():
    with TestClient(create_app(allow_py_seats=False)) as client:
        table, auth, _ = sit(client, ["human", "random"], seed=5)
        before = wait_turn(client, table, auth)
        legal = [a["id"] for a in before["view"]["legal"]]
        illegal = next(i for i in range(1, 256) if i not in legal)
        actions = f"/api/tables/{table}/actions"
        refused = [
            (("POST", actions), {"json": {"action": illegal}, "headers": auth}, 422, "not legal"),
            (("POST", actions), {"json": {"action": "1"}, "headers": auth}, 422, None),
            (("POST", actions), {"json": {}, "headers": auth}, 422, None),
            (
                ("POST", actions),
                {
                    "content": b'{"action": ',
                    "headers": {**auth, "content-type": "application/json"},
                },
                422,
                None,
            ),
            (
                ("POST", actions),
                {"content": b" " * 70_000, "headers": {**auth, "content-type": "application/json"}},
                413,
                "over",
            ),
            (("POST", actions), {"json": {"action": legal[0]}}, 401, "token"),
            (
                ("POST", actions),
                {"json": {"action": legal[0]}, "headers": {"Authorization": "Bearer " + "x" * 43}},
                404,
                "no such table",
            ),
            (
                ("POST", "/api/tables/nope/actions"),
                {"json": {"action": 0}, "headers": auth},
                404,
                None,
            ),
            (
                ("GET", f"/api/tables/{table}"),
                {"headers": {**auth, "Authorization": "Basic a"}},
                401,
                None,
            ),
            (("GET", f"/api/tables/{table}?seat=1"), {"headers": auth}, 403, "own seat"),
            (("GET", f"/api/tables/{table}/record"), {"headers": auth}, 409, "seed"),
            (("POST", f"/api/tables/{table}/step"), {"headers": auth}, 409, None),
        ]
        for (method, path), kwargs, status, words in refused:
            response = client.request(method, path, **kwargs)
            assert response.status_code == status, (path, kwargs, response.text)
            detail = response.json()["detail"]
            assert detail and (words is None or words in str(detail))
            if status == 422 and words == "not legal":
                assert response.json()["legal"] == legal
            # A refusal to an outsider says nothing about the table.
            if status in (401, 404):
                assert set(response.json()) == {"detail"} and table not in response.text
            assert client.get(f"/api/tables/{table}", headers=auth).json() == before

        for seats, words in [
            (["human", "bogus"], "unknown seat kind"),
            (["human", "mcts(p=0)"], "between 1"),
            (["human", "human"], "at most one"),
            (["human", "py:os:getcwd"], "refused over HTTP"),
            (["random*5"], "1 to 4 seats"),
        ]:
            response = client.post("/api/tables", json={"seats": seats})
            assert response.status_code == 400 and words in response.json()["detail"]
        for body in ({"seats": []}, {"seats": ["random"] * 5}, {"seats": ["random"], "seed": -1}):
            assert client.post("/api/tables", json=body).status_code == 422
        assert len(client.app.state.store.tables) == 1


def test_out_of_turn_and_websocket_refusals():
    with TestClient(create_app()) as client:
        table, auth, _ = sit(client, ["ismcts(time_ms=1500)", "human"], seed=3)
        response = client.post(f"/api/tables/{table}/actions", headers=auth, json={"action": 1})
        assert response.status_code == 409 and "turn" in response.json()["detail"]
        assert client.get(f"/api/tables/{table}", headers=auth).json()["moves"] == 0
        hint = client.post(f"/api/tables/{table}/hint", headers=auth)
        assert hint.status_code == 409
        from starlette.websockets import WebSocketDisconnect

        for query, code in [("token=wrong", 4404), ("token=", 4401)]:
            with pytest.raises(WebSocketDisconnect) as closed:
                with client.websocket_connect(f"/api/tables/{table}/events?{query}") as ws:
                    ws.receive_json()
            assert closed.value.code == code


def test_hint_ranks_legal_ids_of_the_persons_seat(client):
    table, auth, _ = sit(client, ["human", "random"], seed=9)
    view = wait_turn(client, table, auth)["view"]
    ranked = client.post(f"/api/tables/{table}/hint", headers=auth).json()["ranked"]
    labels = {a["id"]: a["label"] for a in view["legal"]}
    assert ranked and all(labels[item["id"]] == item["label"] for item in ranked)
    visits = [item["visits"] for item in ranked]
    assert visits == sorted(visits, reverse=True) and sum(visits) > 0


def test_a_watched_table_steps_and_shows_any_seat(client):
    table, auth, created = sit(client, ["random", "mcts(p=50)"], seed=4)
    assert created["seat"] is None
    first = client.get(f"/api/tables/{table}?seat=1", headers=auth).json()
    assert first["moves"] == 0 and first["view"]["player"] == 1
    assert (
        client.post(f"/api/tables/{table}/actions", headers=auth, json={"action": 0}).status_code
        == 409
    )
    assert client.get(f"/api/tables/{table}?seat=2", headers=auth).status_code == 400
    while not (message := client.post(f"/api/tables/{table}/step", headers=auth).json())["view"][
        "over"
    ]:
        pass
    record = engine.parse_record(client.get(f"/api/tables/{table}/record", headers=auth).text)
    assert len(record.moves) == message["moves"] and record.score == message["view"]["score"]


def test_replay_refuses_a_record_with_a_changed_move(client):
    table, auth, _ = sit(client, ["random"], seed=2)
    while not client.post(f"/api/tables/{table}/step", headers=auth).json()["view"]["over"]:
        pass
    data = json.loads(client.get(f"/api/tables/{table}/record", headers=auth).text)
    data["moves"][1] = 257  # naming the next player: never legal without a jester
    response = client.post("/api/replays", json={"record": json.dumps(data)})
    assert response.status_code == 422 and "move 1" in response.json()["detail"]
    assert client.post("/api/replays", json={"record": "{"}).status_code == 422


def test_tables_are_bounded_and_finished_ones_expire():
    with TestClient(create_app(limit=2, finished_ttl=0.0)) as client:
        first, auth, _ = sit(client, ["random"], seed=1)
        sit(client, ["human"], seed=1)
        response = client.post("/api/tables", json={"seats": ["human"]})
        assert response.status_code == 503 and "limit" in response.json()["detail"]
        while not client.post(f"/api/tables/{first}/step", headers=auth).json()["view"]["over"]:
            pass
        time.sleep(0.01)
        sit(client, ["human"], seed=1)  # the finished table made room
        assert client.get(f"/api/tables/{first}", headers=auth).status_code == 404


def test_the_command_prints_its_address_and_stops_on_ctrl_c():
    process = subprocess.Popen(
        [sys.executable, "-m", "vardelic_web.cli", "--port", "0"],
        stdout=subprocess.PIPE,
        text=True,
        env={**os.environ, "PYTHONUNBUFFERED": "1"},
    )
    try:
        line = process.stdout.readline()
        assert line.startswith("vardelic-web: serving http://127.0.0.1:"), line
        process.send_signal(signal.SIGINT)
        assert process.wait(20) == 0
        assert "stopped" in process.stdout.read()
    finally:
        process.kill()


def test_the_hint_depends_only_on_the_seats_information():
    from vardelic_rl._vardelic_rl import _deal_hidden
    from vardelic_web.tables import rank_actions

    def ranking(game):
        return [(str(a), visits) for a, visits, _ in rank_actions(game.state(), 5, 300)]

    rng = random.Random(0)
    for seed in range(4):
        game = engine.new_game(2 + seed % 3, seed)
        for move in range(10):
            redealt = _deal_hidden(game, game.current_player(), seed=move)
            assert ranking(redealt) == ranking(game)
            game.step(rng.choice(engine.legal_ids(game)))
            if game.done:
                break


@pytest.mark.parametrize(
    "body", ["raise ValueError('holding ♥Q secret')", "return 'play ♥Q secret'"]
)
def test_a_failing_computer_seat_stops_the_table_without_telling_its_cards(tmp_path, body):
    path = tmp_path / "faulty.py"
    path.write_text(f"class Faulty:\n    def play(self, state):\n        {body}\n")
    with TestClient(create_app(allow_py_seats=True)) as client:
        table, auth, _ = sit(client, ["human", f"py:{path}:Faulty"], seed=1)
        deadline = time.monotonic() + 10
        while not (message := client.get(f"/api/tables/{table}", headers=auth).json())["error"]:
            assert time.monotonic() < deadline and not message["view"]["over"]
            if message["view"]["legal"]:  # play on until the faulty seat is to move
                action = {"action": message["view"]["legal"][-1]["id"]}
                client.post(f"/api/tables/{table}/actions", headers=auth, json=action)
            time.sleep(0.01)
        assert "player 2" in message["error"] and "secret" not in json.dumps(message)
        answer = client.post(f"/api/tables/{table}/actions", headers=auth, json={"action": 0})
        assert answer.status_code == 409


def test_replays_records_of_games_played_elsewhere(client):
    import vardelic
    import vardelic_rl

    players = [vardelic.players.RandomPlayer(seed=1), vardelic.players.RandomPlayer(seed=2)]
    record = vardelic_rl.play_recorded(players, seed=3)
    replay = client.post("/api/replays", json={"record": record.to_json()}).json()
    assert [f["log"]["player"] for f in replay["frames"][1:]] == [
        record.replay(upto=i).current_player() for i in range(len(record.moves))
    ]
    assert replay["frames"][-1]["views"][0]["score"] == record.score
