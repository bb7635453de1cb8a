"""A universe's tables as files, one partition per asset: ``<dir>/<table>/symbol=<S>/part-0.<fmt>``.

Every asset's four files appear together (written under temporary names, renamed once all
are complete); assets are written on a pool of threads. Read back with Hive partitioning,
e.g. ``pyarrow.dataset.dataset(dir / "candles", partitioning="hive")``, the partition gives
the ``symbol`` column.
"""

from __future__ import annotations

import os
from pathlib import Path
from typing import Callable

from .._schema import TABLES
from .document import UniverseLike, load_universe
from .tables import parallel_map

PART = "part-0"


def universe_paths(directory: Path, symbol: str, fmt: str) -> dict[str, Path]:
    """Where each table of asset ``symbol`` goes."""
    return {table: directory / table / f"symbol={symbol}" / f"{PART}.{fmt}" for table in TABLES}


def write_universe(
    universe: UniverseLike,
    directory: str | os.PathLike,
    fmt: str,
    *,
    book: str = "long",
    batch_bars: int | None = None,
    threads: int | None = None,
    on_asset: Callable[[str], None] | None = None,
) -> dict[str, dict[str, int]]:
    """Write every asset's tables as ``fmt`` ("parquet" or "csv") under ``directory``;
    returns each symbol's row counts. Every asset is checked before any file is made."""
    from ..writers import prepare_run, write_run

    u = load_universe(universe)
    runs = {}
    for symbol, spec in u:  # checks every asset before anything is written
        try:
            runs[symbol] = prepare_run(spec, fmt, book)
        except ValueError as exc:
            raise type(exc)(f'asset "{symbol}": {exc}') from None
    root = Path(directory)

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
