"""A universe's tables as files, one partition per asset: ``<dir>/<table>/symbol=<S>/part-0.<fmt>``.

Every asset's four files appear together (written under temporary names, renamed once all
are complete); assets are written on a pool of threads. Read back with Hive partitioning,
e.g. ``pyarrow.dataset.dataset(dir / "candles", partitioning="hive")``, the partition gives
the ``symbol`` column.
"""

from __future__ import annotations

import contextlib
import os
from collections.abc import Callable
from pathlib import Path
from typing import Any

from .._schema import TABLES
from .blocks import for_blocks, make_block
from .document import Universe, UniverseLike, load_universe
from .tables import parallel_map

PART = "part-0"


def universe_paths(directory: Path, symbol: str, fmt: str) -> dict[str, Path]:
    """Where each table of asset ``symbol`` goes."""
    return {table: directory / table / f"symbol={symbol}" / f"{PART}.{fmt}" for table in TABLES}


def write_universe(
    universe: UniverseLike,
    directory: str | os.PathLike[str],
    fmt: str,
    *,
    book: str = "long",
    batch_bars: int | None = None,
    threads: int | None = None,
    on_asset: Callable[[str], None] | None = None,
    labels: bool = False,
) -> dict[str, dict[str, int]]:
    """Write every asset's tables as ``fmt`` ("parquet" or "csv") under ``directory``
    (``labels=True``: the bars' labels appended to the candles); returns each symbol's row
    counts. Every asset is checked before any file is made."""
    from .._memory import default_batch_bars
    from ..writers import prepare_run, write_run

    u = load_universe(universe)
    runs = {}
    for symbol, spec in u:  # checks every asset before anything is written
        try:
            runs[symbol] = prepare_run(spec, fmt, book, labels)
        except ValueError as exc:
            raise type(exc)(f'universe: asset "{symbol}": {exc}') from None
    root = Path(directory)
    fits = all(run.bars <= default_batch_bars(run.bar_bytes) for run in runs.values())
    if fmt == "parquet" and batch_bars is None and fits:
        # every asset is one batch: made in blocks, each asset's slices written as its files
        return _parquet_blocks(u, [runs[s] for s in u.symbols], root, book, threads, on_asset)

    def write(symbol: str) -> dict[str, int]:
        paths = universe_paths(root, symbol, fmt)
        for path in paths.values():
            path.parent.mkdir(parents=True, exist_ok=True)
        rows = write_run(runs[symbol], paths, fmt, book=book, batch_bars=batch_bars)
        if on_asset is not None:
            on_asset(symbol)
        return rows

    results = parallel_map(write, u.symbols, threads)
    return dict(zip(u.symbols, results))


def _parquet_blocks(
    u: Universe,
    runs: list[Any],
    root: Path,
    book: str,
    threads: int | None,
    on_asset: Callable[[str], None] | None,
) -> dict[str, dict[str, int]]:
    """The files ``write_run`` makes of a run in one batch (one row group per table), for
    blocks of assets made natively at once."""
    from .._optional import require
    from ..frames import arrow_batches

    pa = require("pyarrow", "arrow", "Parquet output")
    np = require("numpy", "arrow", "Parquet output")
    pq = require("pyarrow.parquet", "arrow", "Parquet output")

    def write_block(assets: range) -> list[dict[str, int]]:
        block = make_block(np, u, assets, runs[assets.start : assets.stop])
        batches = arrow_batches(pa, np, block.raw, book)
        rows = {table: block.rows(table, book) for table in TABLES}
        starts = {table: np.concatenate([[0], np.cumsum(rows[table])]) for table in TABLES}
        written = []
        for i, index in enumerate(assets):
            parts = {
                table: batches[table].slice(int(starts[table][i]), rows[table][i])
                for table in TABLES
            }
            _write_asset(
                pa, pq, u.symbols[index], parts, root, book, block.raw.depth, block.raw.labels
            )
            written.append({table: part.num_rows for table, part in parts.items()})
            if on_asset is not None:
                on_asset(u.symbols[index])
        return written

    made = for_blocks(u, threads, write_block)
    return dict(zip(u.symbols, (rows for block in made for rows in block)))


def _write_asset(
    pa: Any,
    pq: Any,
    symbol: str,
    parts: dict[str, Any],
    root: Path,
    book: str,
    depth: int,
    labels: bool,
) -> None:
    """The asset's four files under temporary names, renamed once all are complete (the
    writers' own scheme: nothing temporary is left on a failure)."""
    from .._atomic import Staged, StagedStream, publish_all
    from ..frames import arrow_schema
    from ..writers import _DICTIONARY

    finals = universe_paths(root, symbol, "parquet")
    outputs: dict[str, Staged] = {}
    placed: list[Path] = []
    try:
        for table, final in finals.items():
            final.parent.mkdir(parents=True, exist_ok=True)
            outputs[table] = output = Staged(final)
            schema = arrow_schema(pa, table, book, depth, labels)
            dictionary = [name for name in schema.names if name in _DICTIONARY]
            writer = pq.ParquetWriter(StagedStream(output), schema, use_dictionary=dictionary)
            if parts[table].num_rows:
                writer.write_batch(parts[table], row_group_size=parts[table].num_rows)
            writer.close()
        publish_all(outputs.values(), placed)
    except BaseException:
        try:
            for output in outputs.values():
                output.discard()
        finally:
            for path in placed:
                with contextlib.suppress(OSError):
                    path.unlink()
        raise
