"""``vardelic-web``: serve the table page and its API on one address until Ctrl-C."""

from __future__ import annotations

import argparse
import sys
import threading
import webbrowser


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="vardelic-web",
        description="Play vardelic beside its computer players, watch them and replay games "
        "in the browser.",
    )
    parser.add_argument("--host", default="127.0.0.1", help="address to bind [127.0.0.1]")
    parser.add_argument("--port", type=int, default=8000, help="port [8000]; 0 picks a free one")
    parser.add_argument("--open", action="store_true", help="open the page in a browser")
    parser.add_argument("--max-tables", type=int, default=256, help="live tables at most [256]")
    parser.add_argument(
        "--allow-py-seats",
        action="store_true",
        help="accept py:MODULE:CLASS seats from any module (they import and run code)",
    )
    args = parser.parse_args(argv)
    try:
        import uvicorn

        from .app import create_app
    except ModuleNotFoundError as err:
        print(
            f"vardelic-web needs the web extra ({err}): pip install 'vardelic[web]'",
            file=sys.stderr,
        )
        return 2

    app = create_app(limit=args.max_tables, allow_py_seats=args.allow_py_seats)
    config = uvicorn.Config(app, host=args.host, port=args.port, log_level="warning")
    server = uvicorn.Server(config)

    def announce() -> None:
        # The address once the socket is bound (port 0 resolves to the one it got).
        while not server.started and not server.should_exit:
            threading.Event().wait(0.05)
        if not server.started:
            return
        host, port = server.servers[0].sockets[0].getsockname()[:2]
        shown = f"[{host}]" if ":" in host else host
        url = f"http://{shown}:{port}/"
        print(f"vardelic-web: serving {url} (Ctrl-C stops)", flush=True)
        if args.open:
            webbrowser.open(url)

    threading.Thread(target=announce, daemon=True).start()
    try:
        server.run()
    except KeyboardInterrupt:
        pass
    print("vardelic-web: stopped", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
