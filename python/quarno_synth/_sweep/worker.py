"""The work of one task, in whichever process or machine runs it: write each run's
partitions, digest the files, check the files of runs finished before, let Ctrl-C (or
SIGTERM) interrupt a task but never a pool's wait, and stop a pool worker whose sweep is
gone before it publishes anything."""

from __future__ import annotations

import contextlib
import hashlib
import os
import select
import signal
import threading
import time
from collections.abc import Iterator, Mapping
from dataclasses import dataclass
from pathlib import Path
from typing import Any

from .._atomic import remove_stale, sync_directory
from .._memory import SWEEP_OUT_OF_MEMORY
from .._optional import require
from .._schema import TABLES
from ..writers import write_tables
from .errors import SweepFailed
from .manifest import PART_FILE, library_version, writer_version


@dataclass(frozen=True)
class Task:
    """Runs sent to one worker in one call."""

    root: str
    book: str
    batch_bars: int | None
    labels: bool
    versions: tuple[str, str]
    runs: tuple[tuple[int, str, str], ...]  # (index, partition, spec text)
    # per run index, the rows and file digests the manifest records for it (a resume)
    recorded: tuple[tuple[int, dict[str, Any]], ...] = ()


def _digest(path: Path) -> dict[str, Any]:
    with open(path, "rb") as f:
        digest = hashlib.file_digest(f, "sha256").hexdigest()
    return {"bytes": path.stat().st_size, "sha256": digest}


def _remove_empty(root: Path, partition: str) -> None:
    for table in TABLES:
        directory = root / table / partition
        while directory != root / table:
            try:
                directory.rmdir()
            except OSError:
                break
            directory = directory.parent


def _prepare(paths: Mapping[str, Path]) -> bool:
    """Make the run's partition directories; whether its files are all there already.

    Fresh directories need no look inside (the usual case, and the cheap one); in old ones
    the leftovers of an attempt that was killed are removed.
    """
    fresh = True
    for path in paths.values():
        try:
            os.mkdir(path.parent)
            sync_directory(path.parent.parent)
        except FileExistsError:
            fresh = False
        except FileNotFoundError:  # the first partition of its table (or of its run)
            os.makedirs(path.parent, exist_ok=True)
            sync_directory(path.parent.parent)
    if fresh:
        return False
    complete = all(path.exists() for path in paths.values())
    for path in paths.values():
        remove_stale(path.parent)
        if not complete:
            with contextlib.suppress(FileNotFoundError):
                path.unlink()  # a run cut short between renames: make all four again
    return complete


def _mismatch(root: Path, recorded: Mapping[str, Any], paths: Mapping[str, Path]) -> str | None:
    """Why the run's files are not the ones the manifest records (size first, then the
    digest), or None when they are."""
    files = recorded["files"]
    names = {path.relative_to(root).as_posix(): path for path in paths.values()}
    if set(files) != set(names):
        return "its files are not the ones the manifest lists"
    for name, path in names.items():
        size = path.stat().st_size
        if size != files[name]["bytes"]:
            return f"'{name}' is {size:,} bytes, the manifest says {files[name]['bytes']:,}"
    for name, path in names.items():
        if _digest(path)["sha256"] != files[name]["sha256"]:
            return f"'{name}' does not match the digest in the manifest"
    return None


def _unreadable(paths: Mapping[str, Path]) -> tuple[dict[str, int], str | None]:
    """Row counts of files no manifest vouches for yet (made before a sweep was stopped), or
    why they cannot be read."""
    pq = require("pyarrow.parquet", "arrow", "sweeps (Parquet datasets)")
    rows = {}
    for table, path in paths.items():
        try:
            rows[table] = pq.read_metadata(path).num_rows
        except Exception:  # truncated or damaged: pyarrow says so in many ways
            return {}, f"'{path.name}' of {table} is not a whole Parquet file"
    return rows, None


def _one_run(
    task: Task, partition: str, spec: str, recorded: Mapping[str, Any] | None
) -> dict[str, Any]:
    root = Path(task.root)
    paths = {table: root / table / partition / PART_FILE for table in TABLES}
    remade = None
    if _prepare(paths):
        if recorded is not None:
            remade = _mismatch(root, recorded, paths)
            if remade is None:
                return {"rows": dict(recorded["rows"]), "files": dict(recorded["files"])}
        else:
            rows, remade = _unreadable(paths)
            if remade is None:
                files = {
                    path.relative_to(root).as_posix(): _digest(path) for path in paths.values()
                }
                return {"rows": rows, "files": files}
    elif recorded is not None:
        remade = "its files are missing"
    if _PARENT_GONE:
        raise KeyboardInterrupt  # the sweep is gone: publish nothing more
    try:
        rows = write_tables(
            spec,
            paths,
            "parquet",
            book=task.book,
            batch_bars=task.batch_bars,
            labels=task.labels,
        )
    except ValueError as exc:  # SynthError, or a run the format cannot hold
        _remove_empty(root, partition)
        return {"error": str(exc)}
    except MemoryError:
        _remove_empty(root, partition)
        return {"error": SWEEP_OUT_OF_MEMORY}
    files = {path.relative_to(root).as_posix(): _digest(path) for path in paths.values()}
    result: dict[str, Any] = {"rows": dict(rows), "files": files}
    if remade is not None:
        result["remade"] = f"{partition}: {remade}"
    return result


def run_task(task: Task) -> list[tuple[int, dict[str, Any]]]:
    """Make the task's runs; per run its row counts and file digests, or its error text."""
    here = (library_version(), writer_version())
    if here != task.versions:
        raise SweepFailed(
            f"a worker has {', '.join(here)} but the sweep was started with "
            f"{', '.join(task.versions)}: the files would differ; install the same versions"
        )
    recorded = dict(task.recorded)
    with _interruptible():
        return [
            (index, _one_run(task, partition, spec, recorded.get(index)))
            for index, partition, spec in task.runs
        ]


_IN_POOL_WORKER = False
# Set in a pool worker once the process that started the sweep is gone.
_PARENT_GONE = False
_in_task = threading.Event()
# How long a worker whose sweep is gone lets its interrupted run clean up before it exits.
_CLEAN_UP_SECONDS = 30.0
_INTERRUPTS = (signal.SIGINT, signal.SIGTERM)


def _interrupt_once(signum: int, frame: object) -> None:
    # a second signal must not cut short the clean-up of the first
    for sig in _INTERRUPTS:
        signal.signal(sig, signal.SIG_IGN)
    raise KeyboardInterrupt


@contextlib.contextmanager
def _interruptible() -> Iterator[None]:
    """In a pool worker, Ctrl-C or SIGTERM interrupts a task (which removes what it has
    begun); Ctrl-C never interrupts the wait between tasks, SIGTERM ends it."""
    if not _IN_POOL_WORKER:
        yield
        return
    for sig in _INTERRUPTS:
        signal.signal(sig, _interrupt_once)
    _in_task.set()
    try:
        yield
    finally:
        _in_task.clear()
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_DFL)


def _alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except OSError:  # someone else's process under that number: ours is gone
        return False
    return True


def _wait_for_exit(pid: int) -> None:
    try:
        fd = os.pidfd_open(pid)  # readable once the process has ended
    except (AttributeError, OSError):
        while _alive(pid):
            time.sleep(0.5)
        return
    try:
        select.select([fd], [], [])
    finally:
        os.close(fd)


def _watch_parent(pid: int) -> None:
    """A pool worker's watch on the sweep that started it: once that process is gone, the
    run in progress is interrupted (it removes its temporaries and publishes nothing) and
    the worker exits, freeing the dead sweep's output streams."""
    global _PARENT_GONE
    _wait_for_exit(pid)
    _PARENT_GONE = True
    if _in_task.is_set():
        os.kill(os.getpid(), signal.SIGINT)
        deadline = time.monotonic() + _CLEAN_UP_SECONDS
        while _in_task.is_set() and time.monotonic() < deadline:
            time.sleep(0.05)
    os._exit(1)


def pool_worker_init(parent: int | None = None) -> None:
    """Start of a pool worker: Ctrl-C is ignored between tasks; pyarrow is imported once; the
    worker ends with the process ``parent`` that started the sweep."""
    global _IN_POOL_WORKER
    _IN_POOL_WORKER = True
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    if parent is not None:
        threading.Thread(target=_watch_parent, args=(parent,), daemon=True).start()
    require("pyarrow.parquet", "arrow", "sweeps (Parquet datasets)")
