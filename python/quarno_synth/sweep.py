"""Sweeps: many runs (one spec over many seeds, or a file of specs) into one Parquet dataset.

Every run is a pure function of its spec, so runs go to any ``concurrent.futures.Executor``
(a process pool by default, threads, or a Dask cluster's executor). Workers write their own
partitions, each under a temporary name and renamed once complete; only this process writes
``manifest.json``. A sweep started again with the same arguments skips the runs whose files
are all present and ends with the same dataset, byte for byte.
"""

from __future__ import annotations

import concurrent.futures as cf
import contextlib
import copy
import hashlib
import json
import multiprocessing
import operator
import os
import signal
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Callable, Iterable, Iterator, Mapping, Sequence

from ._optional import require
from .api import Spec
from .columns import TABLES
from .errors import SynthError

MANIFEST = "manifest.json"
PART_FILE = "part-0.parquet"
FORMAT = "quarno_synth sweep 1"
_SEED_LIMIT = 2**64

# Runs per task: enough work per task that scheduling costs little against it (bars x values
# per bar), yet enough tasks (per worker) that the last ones do not leave workers idle.
_TASK_COST = 2_000_000
_TASKS_PER_WORKER = 4

OnRuns = Callable[[int, int], None]


class SweepError(ValueError):
    """Arguments that cannot make a sweep; raised before anything is written."""


class SweepFailed(RuntimeError):
    """The sweep stopped before every run was done (a worker died, a write failed).

    The runs already finished stay; starting the sweep again with the same arguments
    completes it.
    """


# --- seeds and runs --------------------------------------------------------------------------


def parse_seeds(text: str) -> range:
    """Seeds from ``A:B`` (half-open, like ``range(A, B)``), ``A:B:STEP`` or a single ``N``."""
    parts = text.strip().split(":")
    try:
        numbers = [int(part, 10) for part in parts]
    except ValueError:
        raise SweepError(
            f"seeds '{text}': expected START:STOP (e.g. 0:1000), START:STOP:STEP or one seed"
        ) from None
    if len(numbers) == 1:
        numbers.append(numbers[0] + 1)
    if len(numbers) > 3 or (len(numbers) == 3 and numbers[2] <= 0):
        raise SweepError(f"seeds '{text}': expected START:STOP[:STEP] with STEP > 0")
    seeds = range(*numbers)
    if len(seeds) == 0:
        raise SweepError(f"seeds '{text}' is an empty range (the stop is excluded, like range())")
    return _checked_seeds(seeds, f"'{text}'")


def _checked_seeds(seeds: Sequence[int], label: str) -> Sequence[int]:
    if len(seeds) == 0:
        raise SweepError("seeds is empty: give at least one seed")
    if isinstance(seeds, range):
        low, high = (seeds[0], seeds[-1]) if seeds.step > 0 else (seeds[-1], seeds[0])
        if low < 0 or high >= _SEED_LIMIT:
            raise SweepError(f"seeds {label}: seeds are from 0 to 2^64 - 1")
        return seeds
    try:
        if any(isinstance(seed, bool) for seed in seeds):
            raise TypeError
        seeds = [operator.index(seed) for seed in seeds]  # numpy integers too
    except TypeError:
        raise SweepError("seeds must be integers from 0 to 2^64 - 1") from None
    for seed in seeds:
        if not 0 <= seed < _SEED_LIMIT:
            raise SweepError(f"seed {seed} is not an integer from 0 to 2^64 - 1")
    if len(set(seeds)) != len(seeds):
        raise SweepError("seeds repeat: every seed names one partition, give each once")
    return seeds


@dataclass(frozen=True)
class _Run:
    index: int  # position in the manifest
    keys: tuple[tuple[str, Any], ...]  # partition keys, e.g. (("seed", 17),)
    spec: str  # the exact spec text the run is made from
    error: str | None  # the spec was rejected before the sweep started
    cost: int

    @property
    def partition(self) -> str | None:
        if self.error is not None:
            return None
        return "/".join(f"{name}={value}" for name, value in self.keys)


def _as_text(spec: Spec) -> str:
    if isinstance(spec, str):
        return spec
    if isinstance(spec, (bytes, bytearray)):
        try:
            return bytes(spec).decode("utf-8")
        except UnicodeDecodeError as exc:
            raise SynthError(f"spec text is not UTF-8 (byte at offset {exc.start})") from None
    from . import _json

    try:
        return _json.dumps(spec)
    except (TypeError, ValueError) as exc:
        raise SynthError(f"spec is not representable as JSON: {exc}") from None


def _read(spec: Spec) -> tuple[Any, str]:
    """(spec value, spec text) of a spec the table writers accept (the extended language);
    SynthError otherwise."""
    from . import _json
    from .api import _WHITE_SPACE
    from .batches import check_spec

    text = _as_text(spec)
    if not isinstance(spec, (str, bytes, bytearray)):
        check_spec(spec)
        return copy.deepcopy(spec), text
    check_spec(text)  # the reader's own error, with its position
    try:  # the value again, to put other seeds into it
        value = json.loads(text.strip(_WHITE_SPACE))
        _json.dumps(value)
    except ValueError as exc:
        raise SynthError(f"spec is not representable as JSON: {exc}") from None
    return value, text


def _field(value: Any, name: str, index: int) -> Any:
    if isinstance(value, Mapping):
        return value.get(name)
    if isinstance(value, list) and index < len(value):
        return value[index]
    return None


def _with_seed(value: Any, seed: int) -> str:
    from . import _json

    if isinstance(value, Mapping):
        value = dict(value, seed=seed)
    else:
        value = [seed, *value[1:]]
    return _json.dumps(value)


def _cost(value: Any) -> int:
    """Values a run produces, roughly: bars x (candle + book levels + trades)."""
    try:
        micro = _field(value, "microstructure", 6)
        depth = _field(micro, "book_depth", 0)
        rate = _field(micro, "trade_rate", 2)
        return max(1, int(_field(value, "bars", 1) * (6 + 4 * depth + 5 * rate)))
    except (TypeError, ValueError, OverflowError):
        return 1


def _plan(spec: Spec | None, seeds: Any, specs: Sequence[Spec] | None) -> list[_Run]:
    if (spec is None) == (specs is None):
        raise SweepError("give either one spec with seeds, or specs (a list of specs)")
    if isinstance(seeds, str):
        seeds = parse_seeds(seeds)
    elif seeds is not None:
        seeds = _checked_seeds(seeds if isinstance(seeds, range) else list(seeds), repr(seeds))
    if spec is not None:
        if seeds is None:
            raise SweepError("a sweep over one spec needs seeds (e.g. seeds=range(1000))")
        return _seed_runs(spec, seeds)
    if isinstance(specs, (str, bytes, bytearray, Mapping)):
        raise SweepError("specs is a list of specs; for one spec give spec= and seeds=")
    specs = list(specs)
    if not specs:
        raise SweepError("specs is empty: give at least one spec")
    return _grid_runs(specs, seeds)


def _seed_runs(spec: Spec, seeds: Sequence[int]) -> list[_Run]:
    try:
        value, _ = _read(spec)
    except SynthError as exc:  # every seed fails alike, and each run records it
        text = _as_text_or_repr(spec)
        return [_Run(i, (("seed", s),), text, str(exc), 0) for i, s in enumerate(seeds)]
    cost = _cost(value)
    return [_Run(i, (("seed", s),), _with_seed(value, s), None, cost) for i, s in enumerate(seeds)]


def _grid_runs(specs: list[Spec], seeds: Sequence[int] | None) -> list[_Run]:
    runs: list[_Run] = []
    for number, spec in enumerate(specs):
        try:
            value, text = _read(spec)
        except SynthError as exc:
            for seed in seeds if seeds is not None else [None]:
                keys = (("run", number), ("seed", seed))
                runs.append(_Run(len(runs), keys, _as_text_or_repr(spec), str(exc), 0))
            continue
        cost = _cost(value)
        if seeds is None:
            keys = (("run", number), ("seed", _field(value, "seed", 0)))
            runs.append(_Run(len(runs), keys, text, None, cost))
            continue
        for seed in seeds:
            keys = (("run", number), ("seed", seed))
            runs.append(_Run(len(runs), keys, _with_seed(value, seed), None, cost))
    return runs


def _as_text_or_repr(spec: Spec) -> str:
    try:
        return _as_text(spec)
    except SynthError:
        return repr(spec)


# --- the manifest ----------------------------------------------------------------------------


def _writer_version() -> str:
    pa = require("pyarrow", "arrow", "sweeps (Parquet datasets)")
    return f"pyarrow {pa.__version__}"


def _library_version() -> str:
    from ._quarno_synth import __version__

    return f"quarno_synth {__version__}"


def _header(runs: list[_Run], book: str, batch_bars: int | None, labels: bool) -> dict[str, Any]:
    header = {
        "format": FORMAT,
        "library": _library_version(),
        "writer": _writer_version(),
        "tables": list(TABLES),
        "partitions": [name for name, _ in runs[0].keys],
        "file": PART_FILE,
        "book": book,
        "batch_bars": batch_bars,
    }
    if labels:  # only then: manifests of sweeps without labels stay as they were
        header["labels"] = True
    return header


def _run_entry(run: _Run, result: Mapping[str, Any] | None) -> dict[str, Any]:
    entry: dict[str, Any] = dict(run.keys)
    entry["spec"] = run.spec
    error = run.error if run.error is not None else (result or {}).get("error")
    if error is not None:
        entry.update(status="failed", error=error)
    elif result is None:
        entry["status"] = "pending"
    else:
        entry.update(status="ok", rows=result["rows"], files=result["files"])
    return entry


def _manifest(header: dict, runs: list[_Run], results: Mapping[int, Mapping]) -> dict:
    entries = [_run_entry(run, results.get(run.index)) for run in runs]
    rows = {table: 0 for table in TABLES}
    for entry in entries:
        for table, count in entry.get("rows", {}).items():
            rows[table] += count
    failed = sum(entry["status"] == "failed" for entry in entries)
    summary = {"runs": len(entries), "failed": failed, "rows": rows}
    return {**header, "runs": entries, "summary": summary}


def _identity(manifest: Mapping[str, Any]) -> dict[str, Any]:
    """What makes two manifests the same sweep: everything but the outcome of its runs."""
    outcome = {"status", "error", "rows", "files"}
    same = {key: value for key, value in manifest.items() if key not in ("runs", "summary")}
    same["runs"] = [
        {key: value for key, value in entry.items() if key not in outcome}
        for entry in manifest.get("runs", [])
    ]
    return same


def _manifest_bytes(manifest: Mapping[str, Any]) -> bytes:
    # ASCII with escapes: any spec text, even one that is not valid Unicode, is written exactly
    text = json.dumps(manifest, sort_keys=True, indent=1, ensure_ascii=True, allow_nan=False)
    return (text + "\n").encode("ascii")


def _write_manifest(root: Path, manifest: Mapping[str, Any]) -> None:
    from .files import replacing

    with replacing(root / MANIFEST, "wb") as f:
        f.write(_manifest_bytes(manifest))
        f.flush()
        os.fsync(f.fileno())


def read_manifest(path: str | os.PathLike) -> dict[str, Any]:
    """The manifest of the dataset in directory ``path``."""
    return json.loads((Path(path) / MANIFEST).read_bytes())


def _check_directory(root: Path, header: dict, runs: list[_Run]) -> bool:
    """Whether ``root`` already holds this sweep's manifest; SweepError for anything else."""
    if root.exists() and not root.is_dir():
        raise SweepError(f"cannot write a dataset into '{root}': not a directory")
    manifest_path = root / MANIFEST
    if not manifest_path.exists():
        if root.exists() and any(not p.name.startswith(".") for p in root.iterdir()):
            raise SweepError(
                f"'{root}' is not empty and holds no {MANIFEST}: choose a new directory"
            )
        return False
    try:
        found = json.loads(manifest_path.read_bytes())
        if not isinstance(found, dict) or found.get("format") != FORMAT:
            raise ValueError
    except (OSError, ValueError):
        raise SweepError(f"'{manifest_path}' is not a sweep manifest") from None
    wanted = _manifest(header, runs, {})
    for key, what in (("library", "library"), ("writer", "Parquet writer")):
        if found.get(key) != wanted[key]:
            raise SweepError(
                f"'{root}' was written with {what} '{found.get(key)}', not '{wanted[key]}': "
                "resume it with that version, or choose a new directory"
            )
    if _identity(found) != _identity(wanted):
        raise SweepError(
            f"'{root}' holds another sweep (its {MANIFEST} lists other runs or settings): "
            "choose a new directory"
        )
    return True


@contextlib.contextmanager
def _locked(root: Path) -> Iterator[None]:
    """Only one sweep at a time writes into a directory (on this machine)."""
    try:
        import fcntl
    except ImportError:  # pragma: no cover - not POSIX
        yield
        return
    fd = os.open(root, os.O_RDONLY)
    try:
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            raise SweepError(f"another sweep is writing into '{root}'") from None
        yield
    finally:
        os.close(fd)


# --- the work of one task (runs in a worker) -------------------------------------------------


@dataclass(frozen=True)
class _Task:
    root: str
    book: str
    batch_bars: int | None
    labels: bool
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


def _writer() -> Callable[..., dict[str, int]]:
    from .writers import write_tables

    return write_tables


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


def _one_run(task: _Task, partition: str, spec: str) -> dict[str, Any]:
    root = Path(task.root)
    paths = {table: root / table / partition / PART_FILE for table in TABLES}
    if _prepare(paths):
        pq = require("pyarrow.parquet", "arrow", "sweeps (Parquet datasets)")
        rows = {table: pq.read_metadata(path).num_rows for table, path in paths.items()}
    else:
        write_tables = _writer()
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
            return {"error": "out of memory: the run does not fit (bars, book_depth, trade_rate)"}
    files = {path.relative_to(root).as_posix(): _digest(path) for path in paths.values()}
    return {"rows": dict(rows), "files": files}


def _run_task(task: _Task) -> list[tuple[int, dict[str, Any]]]:
    """Make the task's runs; per run its row counts and file digests, or its error text."""
    here = (_library_version(), _writer_version())
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


def _pool_worker_init() -> None:
    global _IN_POOL_WORKER
    _IN_POOL_WORKER = True
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    _writer()  # imports the writers (and pyarrow) once per worker, not in its first task


# --- running the tasks -----------------------------------------------------------------------


def _tasks(
    runs: list[_Run], workers: int, root: Path, book: str, batch_bars: int | None, labels: bool
) -> list[_Task]:
    todo = [run for run in runs if run.error is None]
    if not todo:
        return []
    most = max(1, -(-len(todo) // (workers * _TASKS_PER_WORKER)))
    versions = (_library_version(), _writer_version())
    tasks: list[_Task] = []
    chunk: list[tuple[int, str, str]] = []
    cost = 0
    for run in todo:
        chunk.append((run.index, run.partition, run.spec))
        cost += run.cost
        if cost >= _TASK_COST or len(chunk) >= most:
            tasks.append(_Task(str(root), book, batch_bars, labels, versions, tuple(chunk)))
            chunk, cost = [], 0
    if chunk:
        tasks.append(_Task(str(root), book, batch_bars, labels, versions, tuple(chunk)))
    return tasks


def _default_workers(executor: cf.Executor | None, max_workers: int | None) -> int:
    if max_workers is not None:
        return max_workers
    client = getattr(executor, "_client", None)  # a Dask executor: its workers' threads
    if client is not None:
        with contextlib.suppress(Exception):
            workers = client.scheduler_info(n_workers=-1)["workers"].values()
            return max(1, sum(worker.get("nthreads", 1) for worker in workers))
    return getattr(executor, "_max_workers", None) or os.cpu_count() or 1


def process_pool(workers: int | None = None) -> cf.ProcessPoolExecutor:
    """A process pool for sweeps, to reuse over many of them (all cores by default).

    Its workers are fresh interpreters that import the writers once, and Ctrl-C interrupts
    the runs they are making but never the wait between tasks.
    """
    methods = multiprocessing.get_all_start_methods()
    # a fresh interpreter per worker: forking a process that runs threads (Arrow's, Dask's)
    # can copy a held lock
    context = multiprocessing.get_context("forkserver" if "forkserver" in methods else "spawn")
    return cf.ProcessPoolExecutor(
        workers or os.cpu_count() or 1, mp_context=context, initializer=_pool_worker_init
    )


def _interrupt_pool(pool: cf.ProcessPoolExecutor) -> None:
    # the pool's workers ignore Ctrl-C between tasks; interrupt the tasks they are running
    for process in list((getattr(pool, "_processes", None) or {}).values()):
        with contextlib.suppress(OSError, ValueError, AttributeError):
            os.kill(process.pid, signal.SIGINT)


def _gather(
    executor: cf.Executor,
    tasks: list[_Task],
    results: dict[int, dict],
    done_runs: int,
    total: int,
    on_runs: OnRuns | None,
) -> None:
    futures = {executor.submit(_run_task, task): task for task in tasks}
    try:
        for future in cf.as_completed(futures):
            try:
                outcome = future.result()
            except (SweepFailed, OSError, KeyboardInterrupt):
                raise
            except Exception as exc:
                if isinstance(exc, cf.process.BrokenProcessPool) or type(exc).__name__ in (
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


def _execute(
    runs: list[_Run],
    root: Path,
    book: str,
    batch_bars: int | None,
    labels: bool,
    executor: cf.Executor | None,
    max_workers: int | None,
    on_runs: OnRuns | None,
) -> dict[int, dict]:
    workers = _default_workers(executor, max_workers)
    tasks = _tasks(runs, workers, root, book, batch_bars, labels)
    results: dict[int, dict] = {}
    failed_early = len(runs) - sum(len(task.runs) for task in tasks)
    if on_runs is not None:
        on_runs(failed_early, len(runs))
    if executor is not None:
        _gather(executor, tasks, results, failed_early, len(runs), on_runs)
    elif workers <= 1 or len(tasks) <= 1:
        done = failed_early
        for task in tasks:
            for index, result in _run_task(task):
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


def _check_files(root: Path, results: Mapping[int, Mapping]) -> None:
    for result in results.values():
        for name, info in result.get("files", {}).items():
            path = root / name
            if not path.is_file() or path.stat().st_size != info["bytes"]:
                raise SweepFailed(
                    f"'{path}' was written by a worker but is not here: the dataset directory "
                    "must be on a file system the workers share (give an absolute path)"
                )


def generate_dataset(
    spec: Spec | None = None,
    *,
    seeds: Iterable[int] | str | None = None,
    specs: Sequence[Spec] | None = None,
    path: str | os.PathLike,
    executor: cf.Executor | None = None,
    max_workers: int | None = None,
    book: str = "long",
    batch_bars: int | None = None,
    labels: bool = False,
    on_runs: OnRuns | None = None,
) -> dict[str, Any]:
    """Write many runs into one Parquet dataset in directory ``path``; return its manifest.

    Either ``spec`` with ``seeds`` (the spec's own seed replaced by each one; a range, a list,
    or a text "0:1000"), or ``specs``, a list of specs (each with its own seed, or crossed with
    ``seeds``). Each table goes to ``path/<table>/seed=<seed>/part-0.parquet`` (with specs:
    ``path/<table>/run=<i>/seed=<seed>/part-0.parquet``, ``i`` the spec's position) and
    ``path/manifest.json`` records every run: its spec text, row counts and file digests, or
    its error. A run whose spec is rejected or fails is recorded and the others go on.

    Runs go to ``executor`` when given (any ``concurrent.futures.Executor``), else to a pool of
    ``max_workers`` processes (all cores by default; 1 runs them in this process). A directory
    holding this sweep already is resumed: finished runs are kept. ``on_runs(done, total)`` is
    called as runs finish. ``labels=True`` appends the bars' labels to the candles.

    Raises SweepError (bad arguments, before anything is written), SweepFailed (a worker died;
    start again to finish), OSError (a write failed) and KeyboardInterrupt (nothing partial is
    left behind).
    """
    if book not in ("long", "wide"):
        raise SweepError(f"book must be 'long' or 'wide', not {book!r}")
    if batch_bars is not None and (isinstance(batch_bars, bool) or batch_bars < 1):
        raise SweepError(f"batch_bars must be a positive number of bars, not {batch_bars!r}")
    if max_workers is not None and max_workers < 1:
        raise SweepError(f"max_workers must be at least 1, not {max_workers!r}")
    if not isinstance(labels, bool):
        raise SweepError(f"labels must be True or False, not {labels!r}")
    require("pyarrow.parquet", "arrow", "sweeps (Parquet datasets)")
    runs = _plan(spec, seeds, specs)
    root = Path(path).absolute()
    header = _header(runs, book, batch_bars, labels)
    resuming = _check_directory(root, header, runs)
    root.mkdir(parents=True, exist_ok=True)
    with _locked(root):
        resuming = _check_directory(root, header, runs)
        for stale in root.glob(f".{MANIFEST}.tmp*"):  # a manifest write that was cut short
            stale.unlink()
        if not resuming:
            _write_manifest(root, _manifest(header, runs, {}))
        results = _execute(runs, root, book, batch_bars, labels, executor, max_workers, on_runs)
        _check_files(root, results)
        manifest = _manifest(header, runs, results)
        _write_manifest(root, manifest)
    return manifest


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
        yield client.get_executor(pure=False)
    finally:
        client.close()
