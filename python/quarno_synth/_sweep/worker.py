"""The work of one task, in whichever process or machine runs it: write each run's
partitions, digest the files, and let Ctrl-C interrupt a task but never a pool's wait."""

from __future__ import annotations

import contextlib
import hashlib
import os
import signal
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Iterator, Mapping

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
    versions: tuple[str, str]
    runs: tuple[tuple[int, str, str], ...]  # (index, partition, spec text)


def _digest(path: Path) -> dict[str, Any]:
    with open(path, "rb") as f:
        digest = hashlib.file_digest(f, "sha256").hexdigest()
    return {"bytes": path.stat().st_size, "sha256": digest}


def _remove_temporaries(directory: Path) -> None:
    # names starting with "." are unfinished writes of an earlier, killed attempt
    with contextlib.suppress(FileNotFoundError), os.scandir(directory) as entries:
        for entry in entries:
            if entry.name.startswith("."):
                with contextlib.suppress(FileNotFoundError):
                    os.unlink(entry.path)


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
        except FileExistsError:
            fresh = False
        except FileNotFoundError:  # the first partition of its table (or of its run)
            os.makedirs(path.parent, exist_ok=True)
    if fresh:
        return False
    complete = all(path.exists() for path in paths.values())
    for path in paths.values():
        _remove_temporaries(path.parent)
        if not complete:
            with contextlib.suppress(FileNotFoundError):
                path.unlink()  # a run cut short between renames: make all four again
    return complete


def _one_run(task: Task, partition: str, spec: str) -> dict[str, Any]:
    root = Path(task.root)
    paths = {table: root / table / partition / PART_FILE for table in TABLES}
    if _prepare(paths):
        pq = require("pyarrow.parquet", "arrow", "sweeps (Parquet datasets)")
        rows = {table: pq.read_metadata(path).num_rows for table, path in paths.items()}
    else:
        try:
            rows = write_tables(spec, paths, "parquet", book=task.book, batch_bars=task.batch_bars)
        except ValueError as exc:  # SynthError, or a run the format cannot hold
            _remove_empty(root, partition)
            return {"error": str(exc)}
        except MemoryError:
            _remove_empty(root, partition)
            return {"error": SWEEP_OUT_OF_MEMORY}
    files = {path.relative_to(root).as_posix(): _digest(path) for path in paths.values()}
    return {"rows": dict(rows), "files": files}


def run_task(task: Task) -> list[tuple[int, dict[str, Any]]]:
    """Make the task's runs; per run its row counts and file digests, or its error text."""
    here = (library_version(), writer_version())
    if here != task.versions:
        raise SweepFailed(
            f"a worker has {', '.join(here)} but the sweep was started with "
            f"{', '.join(task.versions)}: the files would differ; install the same versions"
        )
    with _interruptible():
        return [(index, _one_run(task, partition, spec)) for index, partition, spec in task.runs]


_IN_POOL_WORKER = False


def _interrupt_once(signum: int, frame: object) -> None:
    # a second Ctrl-C must not cut short the clean-up of the first
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    raise KeyboardInterrupt


@contextlib.contextmanager
def _interruptible() -> Iterator[None]:
    """In a pool worker, Ctrl-C interrupts a task but never the wait between tasks."""
    if not _IN_POOL_WORKER:
        yield
        return
    signal.signal(signal.SIGINT, _interrupt_once)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)


def pool_worker_init() -> None:
    """Start of a pool worker: Ctrl-C is ignored between tasks; pyarrow is imported once."""
    global _IN_POOL_WORKER
    _IN_POOL_WORKER = True
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    require("pyarrow.parquet", "arrow", "sweeps (Parquet datasets)")
