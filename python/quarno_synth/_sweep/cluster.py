"""Sweeps on a Dask cluster: its ``concurrent.futures`` executor."""

from __future__ import annotations

import concurrent.futures as cf
import contextlib
from collections.abc import Iterator

from .._optional import require
from .errors import SweepError


@contextlib.contextmanager
def cluster_executor(address: str, *, timeout: float = 10.0) -> Iterator[cf.Executor]:
    """A ``concurrent.futures`` executor on the Dask scheduler at ``address``, closed on exit.

    SweepError when the scheduler cannot be reached within ``timeout`` seconds; ImportError
    naming the extra ``cluster`` when Dask is not installed.
    """
    distributed = require("distributed", "cluster", "sweeps on a cluster")
    try:
        client = distributed.Client(address, timeout=timeout, set_as_default=False)
    except (OSError, TimeoutError, ValueError) as exc:
        reason = str(exc).splitlines()[0] if str(exc) else type(exc).__name__
        raise SweepError(f"cannot reach the scheduler at '{address}': {reason}") from None
    try:
        # tasks write files: never take one task's result for another's (pure=False)
        executor: cf.Executor = client.get_executor(pure=False)
        yield executor
    finally:
        client.close()
