"""Process pools whose workers never run the user's main script.

A fresh interpreter per worker (``forkserver``, or ``spawn`` where there is no fork server):
forking a process that runs threads (Arrow's, Dask's) can copy a held lock. Such workers
normally import the parent's ``__main__`` first, so that functions defined there can be
unpickled; a script that calls ``generate_dataset`` at top level, without an
``if __name__ == "__main__":`` guard, would then start its sweep again in every worker and
fail. The sweep's tasks name only functions of this package, so its workers are started with
``__main__`` left out of what they inherit.
"""

from __future__ import annotations

import concurrent.futures as cf
import multiprocessing
import multiprocessing.context as mpc
import os
import sys
import threading
import types
from collections.abc import Callable
from typing import Any

from .worker import pool_worker_init

# Stands in for ``__main__`` while a worker's start-up data is gathered: no file, no spec.
_NO_MAIN = types.ModuleType("__main__")
_NO_MAIN.__spec__ = None
_launching = threading.Lock()


def _without_main(popen: Callable[[Any], Any], process_obj: Any) -> Any:
    # The worker's start-up data is read from sys.modules["__main__"] while it is launched;
    # the swap lasts only that long, under a lock.
    with _launching:
        main = sys.modules["__main__"]
        sys.modules["__main__"] = _NO_MAIN
        try:
            return popen(process_obj)
        finally:
            sys.modules["__main__"] = main


# Module-level classes: a worker unpickles its process object by name.
class _SpawnProcess(mpc.SpawnProcess):
    @staticmethod
    def _Popen(process_obj: Any) -> Any:
        return _without_main(mpc.SpawnProcess._Popen, process_obj)


class _SpawnContext(mpc.SpawnContext):
    Process = _SpawnProcess


if sys.platform != "win32":

    class _ForkServerProcess(mpc.ForkServerProcess):
        @staticmethod
        def _Popen(process_obj: Any) -> Any:
            return _without_main(mpc.ForkServerProcess._Popen, process_obj)

    class _ForkServerContext(mpc.ForkServerContext):
        Process = _ForkServerProcess


def _context() -> mpc.BaseContext:
    if "forkserver" in multiprocessing.get_all_start_methods():
        return _ForkServerContext()
    return _SpawnContext()


def process_pool(workers: int | None = None) -> cf.ProcessPoolExecutor:
    """A process pool for sweeps, to reuse over many of them (all cores by default).

    Its workers are fresh interpreters that import the writers once and never run the
    caller's main script, so a sweep works from a script without a main guard. Ctrl-C
    interrupts the runs they are making but never the wait between tasks. Workers end with
    this process: killed, it leaves no worker running and none publishes a file after it.
    """
    return cf.ProcessPoolExecutor(
        workers or os.cpu_count() or 1,
        mp_context=_context(),
        initializer=pool_worker_init,
        initargs=(os.getpid(),),
    )
