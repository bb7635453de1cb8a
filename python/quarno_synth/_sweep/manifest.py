"""The dataset's manifest: its bytes, what makes two manifests the same sweep, and the lock
that keeps one sweep at a time in a directory.

The manifest is written with the standard library's json, never orjson: its bytes (sorted
keys, ASCII escapes) are part of the dataset and must not depend on an optional extra.
"""

from __future__ import annotations

import contextlib
import json
import os
from collections.abc import Iterator, Mapping
from pathlib import Path
from typing import Any

from .._atomic import remove_stale
from .._optional import require
from .._quarno_synth import __version__
from .._schema import TABLES
from ..files import replacing
from .errors import SweepError
from .plan import Run

MANIFEST = "manifest.json"
PART_FILE = "part-0.parquet"
FORMAT = "quarno_synth sweep 1"


def writer_version() -> str:
    pa = require("pyarrow", "arrow", "sweeps (Parquet datasets)")
    return f"pyarrow {pa.__version__}"


def library_version() -> str:
    return f"quarno_synth {__version__}"


def header(runs: list[Run], book: str, batch_bars: int | None, labels: bool) -> dict[str, Any]:
    """The manifest's members that do not depend on the runs' outcome."""
    head: dict[str, Any] = {
        "format": FORMAT,
        "library": library_version(),
        "writer": writer_version(),
        "tables": list(TABLES),
        "partitions": [name for name, _ in runs[0].keys],
        "file": PART_FILE,
        "book": book,
        "batch_bars": batch_bars,
    }
    if labels:  # only then: manifests of sweeps without labels stay as they were
        head["labels"] = True
    return head


def _run_entry(run: Run, result: Mapping[str, Any] | None) -> dict[str, Any]:
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


def manifest(
    head: dict[str, Any], runs: list[Run], results: Mapping[int, Mapping[str, Any]]
) -> dict[str, Any]:
    """The whole manifest: ``head``, every run's entry and the summary."""
    entries = [_run_entry(run, results.get(run.index)) for run in runs]
    rows = {table: 0 for table in TABLES}
    for entry in entries:
        for table, count in entry.get("rows", {}).items():
            rows[table] += count
    failed = sum(entry["status"] == "failed" for entry in entries)
    summary = {"runs": len(entries), "failed": failed, "rows": rows}
    return {**head, "runs": entries, "summary": summary}


def _identity(found: Mapping[str, Any]) -> dict[str, Any]:
    """What makes two manifests the same sweep: everything but the outcome of its runs."""
    outcome = {"status", "error", "rows", "files"}
    same = {key: value for key, value in found.items() if key not in ("runs", "summary")}
    same["runs"] = [
        {key: value for key, value in entry.items() if key not in outcome}
        for entry in found.get("runs", [])
    ]
    return same


def manifest_bytes(value: Mapping[str, Any]) -> bytes:
    # ASCII with escapes: any spec text, even one that is not valid Unicode, is written exactly
    text = json.dumps(value, sort_keys=True, indent=1, ensure_ascii=True, allow_nan=False)
    return (text + "\n").encode("ascii")


def write_manifest(root: Path, value: Mapping[str, Any]) -> None:
    """Write the manifest; it counts as written once file and directory are synced."""
    with replacing(root / MANIFEST, "wb") as f:
        f.write(manifest_bytes(value))


def read_manifest(path: str | os.PathLike[str]) -> dict[str, Any]:
    """The manifest of the dataset in directory ``path``."""
    value: dict[str, Any] = json.loads((Path(path) / MANIFEST).read_bytes())
    return value


def remove_stale_manifests(root: Path) -> None:
    """Remove the temporaries of manifest writes that were cut short (their writer is gone)."""
    remove_stale(root)


def _is_file_record(value: Any) -> bool:
    return (
        isinstance(value, dict)
        and isinstance(value.get("bytes"), int)
        and isinstance(value.get("sha256"), str)
    )


def _well_formed(found: Any) -> bool:
    """Whether ``found`` has the manifest's shape, as far as resuming reads it."""
    if not isinstance(found, dict) or found.get("format") != FORMAT:
        return False
    entries = found.get("runs")
    if not isinstance(entries, list) or not all(isinstance(e, dict) for e in entries):
        return False
    for entry in entries:
        files, rows = entry.get("files"), entry.get("rows")
        if files is not None and not (
            isinstance(files, dict) and all(_is_file_record(v) for v in files.values())
        ):
            return False
        if rows is not None and not (
            isinstance(rows, dict) and all(isinstance(v, int) for v in rows.values())
        ):
            return False
    return True


def recorded_runs(found: Mapping[str, Any], runs: list[Run]) -> dict[int, dict[str, Any]]:
    """Per run index, the rows and file digests ``found`` records for a finished run."""
    recorded = {}
    for run, entry in zip(runs, found["runs"], strict=True):
        if entry.get("status") == "ok" and isinstance(entry.get("files"), dict):
            recorded[run.index] = {"rows": entry.get("rows") or {}, "files": entry["files"]}
    return recorded


def check_directory(root: Path, head: dict[str, Any], runs: list[Run]) -> dict[str, Any] | None:
    """The manifest of this sweep that ``root`` already holds, or None when there is none yet;
    SweepError for anything else."""
    if root.exists() and not root.is_dir():
        raise SweepError(f"cannot write a dataset into '{root}': not a directory")
    manifest_path = root / MANIFEST
    if not manifest_path.exists():
        if root.exists() and any(not p.name.startswith(".") for p in root.iterdir()):
            raise SweepError(
                f"'{root}' is not empty and holds no {MANIFEST}: choose a new directory"
            )
        return None
    try:
        found = json.loads(manifest_path.read_bytes())
        if not _well_formed(found):
            raise ValueError
    except (OSError, ValueError, RecursionError):
        raise SweepError(f"'{manifest_path}' is not a sweep manifest") from None
    wanted = manifest(head, runs, {})
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
    same: dict[str, Any] = found
    return same


@contextlib.contextmanager
def locked(root: Path) -> Iterator[None]:
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
