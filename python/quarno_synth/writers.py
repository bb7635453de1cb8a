"""A run's four tables written to CSV or Parquet files batch by batch, in bounded memory.

The files of a run appear together: each is written under a temporary sibling name, and all
four are renamed into place only once every one is complete. A run that fails (a "numeric: "
error, a full disk, Ctrl-C) leaves none of them behind.
"""

from __future__ import annotations

import contextlib
import itertools
import os
import uuid
from collections.abc import Callable, Mapping
from pathlib import Path
from typing import Any

from . import _columns
from ._optional import require
from ._options import FORMATS, check_book, check_format, check_labels
from ._schema import TABLES, book_rows_per_bar, native_table_name
from ._spec_text import Spec
from .batches import batch_size, open_run, raw_columns
from .files import table_paths
from .frames import arrow_batches, arrow_schema
from .tables import check_ms_range

__all__ = [
    "FORMATS",
    "OnBars",
    "prepare_run",
    "write_csv",
    "write_parquet",
    "write_run",
    "write_tables",
]

# Called with (bars done, bars in the run) after every batch.
OnBars = Callable[[int, int], None]

# Parquet columns with few distinct values per row group; prices, quantities and rates are
# nearly all distinct, and trying a dictionary on them costs more time than it saves bytes.
_DICTIONARY = ("ts", "side", "level", "regime", "kind")

_temporaries = itertools.count()
_token = uuid.uuid4().hex[:12]


def _temporary(path: Path) -> Path:
    # Unique across machines too: workers on a shared file system may write the same
    # partition at once (a task run again after its worker seemed lost).
    return path.with_name(f".{path.name}.{os.getpid()}-{next(_temporaries)}-{_token}.tmp")


def _batch_rows(batch: Any, book: str) -> dict[str, int]:
    return {
        "candles": batch.bars,
        "trades": batch.trades,
        "book": batch.bars * book_rows_per_bar(batch.book_depth, book),
        "funding": batch.funding_points,
    }


class _CsvFiles:
    """Header from the native module, rows as the native CSV writer formats them."""

    def __init__(self, temps: dict[str, Path], book: str, depth: int, labels: bool) -> None:
        self._book = book
        self._names = {table: native_table_name(table, book, labels) for table in TABLES}
        self._files: dict[str, Any] = {}
        try:
            for table, path in temps.items():
                self._files[table] = open(path, "wb")
                self._files[table].write(_columns.csv_header(self._names[table], depth))
        except BaseException:
            self.abort()
            raise

    def write(self, batch: Any) -> dict[str, int]:
        for table, f in self._files.items():
            f.write(batch.csv(self._names[table]))
        return _batch_rows(batch, self._book)

    def close(self) -> None:
        for f in self._files.values():
            f.close()

    abort = close


class _ParquetFiles:
    """One ParquetWriter per table, one row group per batch; the schema of ``to_arrow``."""

    def __init__(self, temps: dict[str, Path], book: str, depth: int, labels: bool) -> None:
        self._pa = require("pyarrow", "arrow", "Parquet output")
        self._pq = require("pyarrow.parquet", "arrow", "Parquet output")
        self._np = require("numpy", "arrow", "Parquet output")
        self._book = book
        self._files: dict[str, Any] = {}
        self._writers: dict[str, Any] = {}
        try:
            for table, path in temps.items():
                self._files[table] = open(path, "wb")
                schema = arrow_schema(self._pa, table, book, depth, labels)
                self._writers[table] = self._pq.ParquetWriter(
                    self._files[table],
                    schema,
                    use_dictionary=[name for name in schema.names if name in _DICTIONARY],
                )
        except BaseException:
            self.abort()
            raise

    def write(self, batch: Any) -> dict[str, int]:
        raw = raw_columns(self._np, batch, 0, 0)
        rows = {}
        for table, record_batch in arrow_batches(self._pa, self._np, raw, self._book).items():
            rows[table] = record_batch.num_rows
            if record_batch.num_rows:
                self._writers[table].write_batch(record_batch, row_group_size=rows[table])
        return rows

    def close(self) -> None:
        for table, writer in self._writers.items():
            writer.close()
            self._files[table].close()

    def abort(self) -> None:
        for table, f in self._files.items():
            if table in self._writers:
                with contextlib.suppress(Exception):
                    self._writers[table].close()
            f.close()


def prepare_run(spec: Spec, fmt: str, book: str = "long", labels: bool = False) -> _columns.Run:
    """The run of ``spec`` (with its labels when ``labels``), checked for the format before
    any file is made.

    Parquet stores second timestamps as milliseconds: a run whose timestamps do not fit is
    refused here (ValueError) rather than wrapped around.
    """
    check_format(fmt)
    check_book(book)
    check_labels(labels)
    if fmt == "parquet":
        require("pyarrow.parquet", "arrow", "Parquet output")
        require("numpy", "arrow", "Parquet output")
    run = open_run(spec, labels)
    if fmt == "parquet":
        last_ts = run.start_ts + (run.bars - 1) * run.bar_secs
        check_ms_range(run.start_ts, last_ts, "Parquet; use CSV")
    return run


def write_run(
    run: _columns.Run,
    paths: Mapping[str, Path],
    fmt: str,
    *,
    book: str = "long",
    batch_bars: int | None = None,
    on_bars: OnBars | None = None,
) -> dict[str, int]:
    """Write the rest of ``run`` (from ``prepare_run``; its labels go to the candles when it
    was made with them); see ``write_tables``."""
    missing = [table for table in TABLES if table not in paths]
    if missing:
        raise ValueError(f"paths has no entry for {', '.join(missing)}")
    finals = {table: Path(paths[table]) for table in TABLES}
    size = batch_size(run, batch_bars)
    temps = {table: _temporary(path) for table, path in finals.items()}
    rows = dict.fromkeys(TABLES, 0)
    files: Any = None
    placed: list[Path] = []
    try:
        opener = _ParquetFiles if fmt == "parquet" else _CsvFiles
        files = opener(temps, book, run.book_depth, run.labels)
        while (batch := run.next_batch(size)) is not None:
            for table, count in files.write(batch).items():
                rows[table] += count
            del batch
            if on_bars is not None:
                on_bars(run.bars_done, run.bars)
        files.close()
        files = None
        for table in TABLES:
            os.replace(temps[table], finals[table])
            placed.append(finals[table])
    except BaseException:
        if files is not None:
            files.abort()
        for path in [*temps.values(), *placed]:
            with contextlib.suppress(OSError):
                path.unlink()
        raise
    return rows


def write_tables(
    spec: Spec,
    paths: Mapping[str, Path],
    fmt: str,
    *,
    book: str = "long",
    batch_bars: int | None = None,
    on_bars: OnBars | None = None,
    labels: bool = False,
) -> dict[str, int]:
    """Run ``spec`` and write its tables "candles", "trades", "book" and "funding", batch by
    batch, to ``paths[table]`` as ``fmt`` ("parquet" or "csv"); returns each table's rows.

    ``book`` is "long" (one row per level and side) or "wide" (one row per bar).
    ``batch_bars`` defaults to about 64 MB of columns per batch. ``on_bars(done, total)`` is
    called after every batch. ``labels=True`` appends the bars' labels to the candles
    (``regime``, ``kind``, ``sigma``, ``jump``). The four files appear only once all are
    complete; on any failure or interrupt none is left behind.
    """
    run = prepare_run(spec, fmt, book, labels)
    return write_run(run, paths, fmt, book=book, batch_bars=batch_bars, on_bars=on_bars)


def _write_directory(
    spec: Spec,
    directory: str | os.PathLike[str],
    fmt: str,
    book: str,
    batch_bars: int | None,
    labels: bool,
) -> dict[str, Path]:
    run = prepare_run(spec, fmt, book, labels)
    directory = Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    paths = table_paths(directory, fmt)
    write_run(run, paths, fmt, book=book, batch_bars=batch_bars)
    return paths


def write_parquet(
    spec: Spec,
    directory: str | os.PathLike[str],
    *,
    book: str = "long",
    batch_bars: int | None = None,
    labels: bool = False,
) -> dict[str, Path]:
    """Run ``spec`` into ``candles.parquet``, ``trades.parquet``, ``book.parquet`` and
    ``funding.parquet`` in ``directory`` (created when missing), batch by batch.

    The four files appear together, only once all are complete; a run that fails leaves none.

    Parameters
    ----------
    spec
        A dict (or list, the array form) or a JSON text.
    directory
        Where the files go.
    book
        "long" or "wide", as for ``generate_frames``.
    batch_bars
        Bars per batch (one row group each); by default about 64 MB of columns.
    labels
        True appends the bars' labels to the candles (``regime``, ``kind``, ``sigma``,
        ``jump``).

    Returns
    -------
    dict of str to pathlib.Path
        The file of each table.
    """
    return _write_directory(spec, directory, "parquet", book, batch_bars, labels)


def write_csv(
    spec: Spec,
    directory: str | os.PathLike[str],
    *,
    book: str = "long",
    batch_bars: int | None = None,
    labels: bool = False,
) -> dict[str, Path]:
    """Run ``spec`` into ``candles.csv`` ... ``funding.csv`` in ``directory`` (created when
    missing); numbers are written as in the JSON document, null as an empty field.
    ``labels=True`` appends the bars' labels to the candles."""
    return _write_directory(spec, directory, "csv", book, batch_bars, labels)
