"""SIGTERM taken like Ctrl-C: what `timeout`, `docker stop`, systemd and batch schedulers
send gets the same clean-up (no temporary left, pool workers stopped), then exit status 143."""

from __future__ import annotations

import contextlib
import signal
import threading
from collections.abc import Iterator

# 128 + SIGTERM, as a shell reports a process that SIGTERM ended
TERMINATED_STATUS = 128 + signal.SIGTERM


class Terminated(KeyboardInterrupt):
    """SIGTERM arrived; raised where Ctrl-C's KeyboardInterrupt would be."""


def _terminate(signum: int, frame: object) -> None:
    # a second SIGTERM must not cut short the clean-up of the first
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
    raise Terminated


@contextlib.contextmanager
def terminating_as_interrupt() -> Iterator[None]:
    """While inside, SIGTERM raises Terminated in the main thread."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    previous = signal.signal(signal.SIGTERM, _terminate)
    try:
        yield
    finally:
        signal.signal(signal.SIGTERM, previous)
