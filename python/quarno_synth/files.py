"""Writing results to files: one document, or one table file per kind of record."""

from __future__ import annotations

import contextlib
import csv
import os
from pathlib import Path
from typing import Callable, Iterator, TextIO

from ._optional import require
from .columns import COLUMNS, TABLES, Columns

# Called with (rows written, total rows) while a table file is written.
OnRows = Callable[[int, int], None]

_CSV_CHUNK = 20000
_MS_LIMIT_SECS = (2**63 - 1) // 1000


@contextlib.contextmanager
def replacing(path: Path, mode: str = "w") -> Iterator[TextIO]:
    """Open a sibling temporary file that replaces ``path`` only once it is complete.

    A failed or interrupted write never leaves a truncated result under the final name.
    """
    tmp = path.with_name(f".{path.name}.tmp{os.getpid()}")
    try:
        with open(tmp, mode, **({} if "b" in mode else {"encoding": "utf-8", "newline": ""})) as f:
            yield f
        os.replace(tmp, path)
    except BaseException:
        with contextlib.suppress(OSError):
            tmp.unlink()
        raise


def write_text(path: Path, text: str) -> None:
    """Write ``text`` to ``path`` as UTF-8, exactly (no newline is added)."""
    with replacing(path, "wb") as f:
        f.write(text.encode("utf-8"))


def table_paths(directory: Path, fmt: str) -> dict[str, Path]:
    """The file of each table: candles, trades, book and funding."""
    return {table: directory / f"{table}.{fmt}" for table in TABLES}


def write_csv(
    path: Path, table: str, columns: dict[str, list], on_rows: OnRows | None = None
) -> None:
    """One table as CSV with a header row; ``ts`` is in integer seconds, null is empty."""
    names = COLUMNS[table]
    rows = list(zip(*(columns[name] for name in names)))
    with replacing(path) as f:
        writer = csv.writer(f, lineterminator="\n")
        writer.writerow(names)
        for start in range(0, len(rows), _CSV_CHUNK):
            writer.writerows(rows[start : start + _CSV_CHUNK])
            if on_rows is not None:
                on_rows(min(start + _CSV_CHUNK, len(rows)), len(rows))


def write_parquet(path: Path, table: str, columns: dict[str, list]) -> None:
    """One table as a Parquet file (needs pyarrow)."""
    pa = require("pyarrow", "arrow", "Parquet output")
    pq = require("pyarrow.parquet", "arrow", "Parquet output")
    from .tables import arrow_table

    ts = columns["ts"]
    if ts and not (-_MS_LIMIT_SECS <= min(ts) and max(ts) <= _MS_LIMIT_SECS):
        # Parquet stores second timestamps as milliseconds; refuse rather than wrap around
        raise ValueError(
            f"{table}: timestamps beyond about 292 million years from 1970 do not fit Parquet; "
            "use --format csv"
        )
    with replacing(path, "wb") as f:
        pq.write_table(arrow_table(pa, table, columns), f)


def write_tables(
    directory: Path,
    fmt: str,
    columns: Columns,
    on_table: Callable[[str, Path], None] | None = None,
    on_rows: OnRows | None = None,
) -> dict[str, Path]:
    """Write every table into ``directory`` (created when missing) as "csv" or "parquet"."""
    if fmt == "parquet":  # fail before creating anything when pyarrow is missing
        require("pyarrow.parquet", "arrow", "Parquet output")
    directory.mkdir(parents=True, exist_ok=True)
    paths = table_paths(directory, fmt)
    for table, path in paths.items():
        if on_table is not None:
            on_table(table, path)
        if fmt == "csv":
            write_csv(path, table, columns[table], on_rows)
        else:
            write_parquet(path, table, columns[table])
    return paths
