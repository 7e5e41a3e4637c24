"""A table in the browser for vardelic: play beside the computer players, watch them, replay games.

``vardelic-web`` serves the page and its HTTP API from one process (``create_app()`` is the
ASGI application). Needs the ``web`` extra: ``pip install 'vardelic[web]'``.
"""

from .app import create_app

__all__ = ["create_app"]
