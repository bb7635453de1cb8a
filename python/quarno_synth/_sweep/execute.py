"""Running a sweep's tasks: cutting the runs into tasks, sizing and driving the pool, and
turning a dead worker into SweepFailed."""

from __future__ import annotations

import concurrent.futures as cf
import contextlib
import os
import signal
from collections.abc import Mapping
from concurrent.futures.process import BrokenProcessPool
from pathlib import Path
from typing import Any

from .errors import OnRuns, SweepFailed
from .manifest import library_version, writer_version
from .plan import Run
from .pool import process_pool
from .worker import Task, run_task

# Runs per task: enough work per task that scheduling costs little against it (bars x values
# per bar), yet enough tasks (per worker) that the last ones do not leave workers idle.
_TASK_COST = 2_000_000
_TASKS_PER_WORKER = 4

Results = dict[int, dict[str, Any]]


def _tasks(
    runs: list[Run],
    workers: int,
    root: Path,
    book: str,
    batch_bars: int | None,
    labels: bool,
    recorded: Mapping[int, dict[str, Any]],
) -> list[Task]:
    todo = [run for run in runs if run.error is None]
    if not todo:
        return []
    most = max(1, -(-len(todo) // (workers * _TASKS_PER_WORKER)))
    versions = (library_version(), writer_version())
    tasks: list[Task] = []
    chunk: list[tuple[int, str, str]] = []
    cost = 0

    def task() -> Task:
        known = tuple((index, recorded[index]) for index, _, _ in chunk if index in recorded)
        return Task(str(root), book, batch_bars, labels, versions, tuple(chunk), known)

    for run in todo:
        assert run.partition is not None
        chunk.append((run.index, run.partition, run.spec))
        cost += run.cost
        if cost >= _TASK_COST or len(chunk) >= most:
            tasks.append(task())
            chunk, cost = [], 0
    if chunk:
        tasks.append(task())
    return tasks


def _default_workers(executor: cf.Executor | None, max_workers: int | None) -> int:
    if max_workers is not None:
        return max_workers
    client = getattr(executor, "_client", None)  # a Dask executor: its workers' threads
    if client is not None:
        with contextlib.suppress(Exception):
            workers = client.scheduler_info(n_workers=-1)["workers"].values()
            threads: int = sum(worker.get("nthreads", 1) for worker in workers)
            return max(1, threads)
    found: int | None = getattr(executor, "_max_workers", None)
    return found or os.cpu_count() or 1


def _interrupt_pool(pool: cf.ProcessPoolExecutor) -> None:
    # the pool's workers ignore Ctrl-C between tasks; interrupt the tasks they are running
    for process in list((getattr(pool, "_processes", None) or {}).values()):
        with contextlib.suppress(OSError, ValueError, AttributeError):
            os.kill(process.pid, signal.SIGINT)


def _gather(
    executor: cf.Executor,
    tasks: list[Task],
    results: Results,
    done_runs: int,
    total: int,
    on_runs: OnRuns | None,
) -> None:
    futures = {executor.submit(run_task, task): task for task in tasks}
    try:
        for future in cf.as_completed(futures):
            try:
                outcome = future.result()
            except (SweepFailed, OSError, KeyboardInterrupt):
                raise
            except Exception as exc:
                if isinstance(exc, BrokenProcessPool) or type(exc).__name__ in (
                    "KilledWorker",
                    "CancelledError",
                ):
                    raise SweepFailed(
                        "a worker died (killed, or out of memory); "
                        "start the sweep again to finish it"
                    ) from None
                raise
            for index, result in outcome:
                results[index] = result
            done_runs += len(outcome)
            if on_runs is not None:
                on_runs(done_runs, total)
    except BaseException:
        for future in futures:
            future.cancel()
        raise


def execute(
    runs: list[Run],
    root: Path,
    book: str,
    batch_bars: int | None,
    labels: bool,
    executor: cf.Executor | None,
    max_workers: int | None,
    on_runs: OnRuns | None,
    recorded: Mapping[int, dict[str, Any]] | None = None,
) -> Results:
    """Make every run that has no error yet; per run index its result. A run ``recorded``
    as finished (rows and file digests, from the manifest) is kept when its files match."""
    workers = _default_workers(executor, max_workers)
    tasks = _tasks(runs, workers, root, book, batch_bars, labels, recorded or {})
    results: Results = {}
    failed_early = len(runs) - sum(len(task.runs) for task in tasks)
    if on_runs is not None:
        on_runs(failed_early, len(runs))
    if executor is not None:
        _gather(executor, tasks, results, failed_early, len(runs), on_runs)
    elif workers <= 1 or len(tasks) <= 1:
        done = failed_early
        for task in tasks:
            for index, result in run_task(task):
                results[index] = result
            done += len(task.runs)
            if on_runs is not None:
                on_runs(done, len(runs))
    else:
        pool = process_pool(min(workers, len(tasks)))
        try:
            _gather(pool, tasks, results, failed_early, len(runs), on_runs)
        except KeyboardInterrupt:
            _interrupt_pool(pool)
            raise
        finally:
            pool.shutdown(wait=True, cancel_futures=True)
    return results


def check_files(root: Path, results: Mapping[int, Mapping[str, Any]]) -> None:
    """SweepFailed when a file a worker wrote cannot be seen from here."""
    for result in results.values():
        for name, info in result.get("files", {}).items():
            path = root / name
            if not path.is_file() or path.stat().st_size != info["bytes"]:
                raise SweepFailed(
                    f"'{path}' was written by a worker but is not here: the dataset directory "
                    "must be on a file system the workers share (give an absolute path)"
                )
