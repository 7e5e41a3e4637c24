"""The HTTP API and the page: one ASGI application, ``create_app()``.

The page (package data under ``static/``) uses the same API as any program: create a table,
read its seat's view, post action ids from the view's ``legal`` list, follow the WebSocket.
"""

from __future__ import annotations

import asyncio
import json
from contextlib import asynccontextmanager
from importlib import resources
from typing import Annotated

from fastapi import FastAPI, Header, Request, WebSocket, WebSocketDisconnect
from fastapi.responses import JSONResponse, Response
from pydantic import BaseModel, Field, StrictInt

from . import engine
from .tables import HUMAN, Table, TableError, TableStore, outcome, parse_seats

MAX_BODY = 64 * 1024
STATIC_TYPES = {".html": "text/html", ".js": "text/javascript", ".css": "text/css"}
# Nothing from elsewhere: no fonts, scripts or styles outside this server.
SECURITY_HEADERS = {
    "Content-Security-Policy": "default-src 'self'; img-src 'self' data:; connect-src 'self'",
    "X-Content-Type-Options": "nosniff",
    "Referrer-Policy": "no-referrer",
    "Cache-Control": "no-store",
}


Auth = Annotated[str | None, Header(description="Bearer TOKEN, as POST /api/tables gave")]


class NewTable(BaseModel):
    seats: list[Annotated[str, Field(max_length=200)]] = Field(
        min_length=1,
        max_length=4,
        examples=[[HUMAN, "ismcts(time_ms=20)"]],
        description="1 to 4 seats: at most one 'human' (the token's seat), the others in "
        "vardelic-arena's seat grammar. Without 'human' the table is watched.",
    )
    seed: int | None = Field(None, ge=0, lt=2**64, description="the deal; drawn when left out")


class Action(BaseModel):
    # Strict: "1" or 1.0 is not an id, and must not play one.
    action: StrictInt = Field(description="an id from the view's legal list")


class Replay(BaseModel):
    record: str = Field(description="a record's JSON text (one line of vardelic-arena --records)")


class BodyLimit:
    """Refuses request bodies over `limit` bytes with 413, whether announced or streamed."""

    def __init__(self, app, limit: int) -> None:
        self.app = app
        self.limit = limit

    async def __call__(self, scope, receive, send) -> None:
        if scope["type"] != "http":
            return await self.app(scope, receive, send)
        headers = dict(scope["headers"])
        length = headers.get(b"content-length")
        if length is not None and (not length.isdigit() or int(length) > self.limit):
            return await self._refuse(send)
        received = 0

        async def limited():
            nonlocal received
            message = await receive()
            received += len(message.get("body", b""))
            if received > self.limit:
                raise _TooLarge
            return message

        try:
            await self.app(scope, limited, send)
        except _TooLarge:
            await self._refuse(send)

    async def _refuse(self, send) -> None:
        body = json.dumps({"detail": f"the request body is over {self.limit} bytes"}).encode()
        await send(
            {
                "type": "http.response.start",
                "status": 413,
                "headers": [(b"content-type", b"application/json")],
            }
        )
        await send({"type": "http.response.body", "body": body})


class _TooLarge(Exception):
    pass


def _bearer(authorization: str | None) -> str | None:
    if authorization is None:
        return None
    scheme, _, token = authorization.partition(" ")
    return token.strip() if scheme.lower() == "bearer" else None


def create_app(
    limit: int = 256,
    finished_ttl: float = 600.0,
    idle_ttl: float = 1800.0,
    allow_py_seats: bool = False,
) -> FastAPI:
    store = TableStore(limit, finished_ttl, idle_ttl)

    @asynccontextmanager
    async def lifespan(_app):
        yield
        store.close()

    app = FastAPI(
        title="vardelic web table",
        summary="Play, watch and replay games of vardelic with its computer players.",
        lifespan=lifespan,
        # The interactive docs pages load their scripts from a CDN: the description alone is
        # served, at /openapi.json.
        docs_url=None,
        redoc_url=None,
    )
    app.state.store = store

    @app.exception_handler(TableError)
    async def table_error(_request, err: TableError):
        return JSONResponse({"detail": str(err), **err.extra}, status_code=err.status)

    @app.middleware("http")
    async def headers(request: Request, call_next):
        response = await call_next(request)
        response.headers.update(SECURITY_HEADERS)
        return response

    @app.post("/api/tables", status_code=201, tags=["tables"])
    async def new_table(body: NewTable) -> dict:
        """Sit down at a new table; the token stands for the 'human' seat (or watches)."""
        labels, seats = parse_seats(body.seats, allow_py_seats)
        table = Table(labels, seats, body.seed)
        store.add(table)
        table.start_computers()
        return {"table": table.id, "token": table.token, "seat": table.human}

    @app.get("/api/tables/{table_id}", tags=["tables"])
    async def get_table(table_id: str, authorization: Auth = None, seat: int | None = None) -> dict:
        """The token's seat's view and the log (a watched table: any seat's, by `seat`)."""
        table = store.get(table_id, _bearer(authorization))
        return table.message(table.seat_for(seat))

    @app.post("/api/tables/{table_id}/actions", tags=["tables"])
    async def act(table_id: str, body: Action, authorization: Auth = None) -> dict:
        """Play a legal id for the person's seat; the computer seats then move on their own."""
        table = store.get(table_id, _bearer(authorization))
        if table.human is None:
            raise TableError(409, "a watched table has no seat to play for; use /step")
        await table.human_action(body.action)
        return table.message(table.human)

    @app.post("/api/tables/{table_id}/step", tags=["tables"])
    async def step(table_id: str, authorization: Auth = None, seat: int | None = None) -> dict:
        """One computer move of a watched table."""
        table = store.get(table_id, _bearer(authorization))
        await table.step()
        return table.message(table.seat_for(seat))

    @app.post("/api/tables/{table_id}/hint", tags=["tables"])
    async def hint(table_id: str, authorization: Auth = None) -> dict:
        """ISMCTSPlayer's ranked actions for the person's seat (visits, mean score)."""
        table = store.get(table_id, _bearer(authorization))
        return {"ranked": await table.hint()}

    @app.get("/api/tables/{table_id}/record", tags=["tables"])
    async def record(table_id: str, authorization: Auth = None) -> Response:
        """The finished game's record (JSON); refused while the game runs: it holds the seed."""
        table = store.get(table_id, _bearer(authorization))
        return Response(table.record(), media_type="application/json")

    @app.websocket("/api/tables/{table_id}/events")
    async def events(websocket: WebSocket, table_id: str, token: str = "", seat: int | None = None):
        """Pushes the seat's message (as GET gives it) now and after every move."""
        try:
            table = store.get(table_id, token)
            seen = table.seat_for(seat)
        except TableError as err:
            await websocket.close(code=4000 + err.status, reason=str(err))
            return
        await websocket.accept()
        queue: asyncio.Queue = asyncio.Queue(maxsize=512)
        table.subscribers[queue] = seen
        queue.put_nowait(table.message(seen))
        closed = asyncio.ensure_future(_until_closed(websocket))
        try:
            while True:
                getter = asyncio.ensure_future(queue.get())
                done, _ = await asyncio.wait({getter, closed}, return_when=asyncio.FIRST_COMPLETED)
                if closed in done:
                    getter.cancel()
                    break
                message = getter.result()
                if message is None:
                    await websocket.close()
                    break
                await websocket.send_json(message)
        except (WebSocketDisconnect, RuntimeError):
            pass
        finally:
            closed.cancel()
            table.subscribers.pop(queue, None)

    @app.post("/api/replays", tags=["replays"])
    async def replay(body: Replay) -> dict:
        """Every position of a record, as every seat's view, with the log: for stepping
        forward and back. The record is the caller's own, seed included."""
        try:
            rec = engine.parse_record(body.record)
            game = rec.replay(0)
            frames = [{"views": [engine.seat_view(game, p) for p in range(rec.num_players)]}]
            for index, move in enumerate(rec.moves):
                mover = game.current_player()
                if game.done or move not in engine.legal_ids(game):
                    raise ValueError(
                        f"move {index}: id {move} is not legal (legal ids: "
                        f"{engine.legal_ids(game)})"
                    )
                words = engine.label(game, move)
                game.step(move)
                views = [engine.seat_view(game, p) for p in range(rec.num_players)]
                entry = {"move": index + 1, "player": mover, "action": words}
                entry["outcome"] = outcome(frames[-1]["views"][mover], views[mover])
                frames.append({"views": views, "log": entry})
        except ValueError as err:
            raise TableError(422, f"not a record this engine replays: {err}") from None
        return {
            "num_players": rec.num_players,
            "seed": rec.seed,
            "seats": list(rec.seats),
            "score": rec.score,
            "result": rec.result,
            "frames": frames,
        }

    page = resources.files(__package__) / "static"

    @app.get("/", include_in_schema=False)
    async def index() -> Response:
        return Response(page.joinpath("index.html").read_bytes(), media_type="text/html")

    @app.get("/static/{name}", include_in_schema=False)
    async def static(name: str) -> Response:
        suffix = "." + name.rpartition(".")[2]
        resource = page.joinpath(name)
        if "/" in name or suffix not in STATIC_TYPES or not resource.is_file():
            raise TableError(404, "no such file")
        return Response(resource.read_bytes(), media_type=STATIC_TYPES[suffix])

    app.add_middleware(BodyLimit, limit=MAX_BODY)
    return app


async def _until_closed(websocket: WebSocket) -> None:
    """Reads (and drops) what the client sends until it disconnects."""
    try:
        while True:
            await websocket.receive_text()
    except (WebSocketDisconnect, RuntimeError):
        return
