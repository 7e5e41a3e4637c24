"""A Dask cluster as a concurrent.futures executor for the runner."""

from __future__ import annotations

import sys
from collections.abc import Callable
from concurrent.futures import Executor

from .errors import SetupError


def dask_executor(
    scheduler: str | None = None, local_workers: int | None = None
) -> tuple[Executor, Callable[[], None]]:
    """(executor, closer) on a Dask cluster: a running scheduler, or a local
    cluster of single-threaded worker processes. SetupError when Dask is not
    installed or the cluster cannot be had."""
    try:
        from distributed import Client, LocalCluster
    except ImportError:
        raise SetupError(
            "Dask is not installed; install it with: pip install 'dask[distributed]' "
            "(or this package's extra: pip install '.[dask]')"
        ) from None
    cluster = None
    if scheduler is not None:
        try:
            client = Client(scheduler)
        except (OSError, ValueError) as exc:  # a bad address, or no scheduler there
            raise SetupError(f"cannot reach the Dask scheduler {scheduler!r}: {exc}") from exc
    else:
        try:
            cluster = LocalCluster(
                n_workers=local_workers,
                threads_per_worker=1,
                processes=True,
                dashboard_address=None,
            )
        except (OSError, ValueError) as exc:
            raise SetupError(f"cannot start a local Dask cluster: {exc}") from exc
        client = Client(cluster)
        # Local workers see this process's import path, so modules added to
        # it at run time (a notebook's player class) import there too.
        client.run(_extend_path, list(sys.path))
    executor = client.get_executor(pure=False)

    def close() -> None:
        client.close()
        if cluster is not None:
            cluster.close()

    return executor, close


def _extend_path(paths: list[str]) -> None:
    for path in paths:
        if path not in sys.path:
            sys.path.append(path)
