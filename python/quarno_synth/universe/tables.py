"""A universe's tables: every asset's tables one after another, with a leading ``symbol``.

Assets are generated independently, each from its own expanded spec, on a pool of threads
(the native run releases the interpreter lock); the result does not depend on the number of
threads. ``symbol`` is categorical, its categories the universe's symbols in document order.
"""

from __future__ import annotations

import concurrent.futures as cf
import os
from typing import Any, Callable, Iterator, Sequence

from .._optional import require
from .._options import check_book
from .._schema import TABLES
from .document import Universe, UniverseLike, load_universe

SYMBOL = "symbol"


def _threads(threads: int | None, assets: int) -> int:
    if threads is None:
        return max(1, min(os.cpu_count() or 1, assets))
    if isinstance(threads, bool) or not isinstance(threads, int) or threads < 1:
        raise ValueError(f"threads must be a positive int, not {threads!r}")
    return threads


def parallel_map(make: Callable[[Any], Any], items: Sequence[Any], threads: int | None) -> list:
    """``make(item)`` for every item, results in order, on ``threads`` threads (default: one
    per core)."""
    workers = _threads(threads, len(items))
    if workers == 1:
        return [make(item) for item in items]
    with cf.ThreadPoolExecutor(workers) as pool:
        return list(pool.map(make, items))


def map_assets(
    universe: Universe, make: Callable[[dict], Any], threads: int | None = None
) -> list[Any]:
    """``make(spec)`` for every asset, in the universe's order, on ``threads`` threads."""
    return parallel_map(make, universe.specs, threads)


def _arrow_symbols(pa: Any, np: Any, symbols: Sequence[str], rows: Sequence[int]) -> Any:
    codes = np.repeat(np.arange(len(symbols), dtype=np.int32), rows)
    return pa.DictionaryArray.from_arrays(pa.array(codes), pa.array(list(symbols)))


def universe_arrow(
    universe: UniverseLike, *, book: str = "long", threads: int | None = None
) -> dict[str, Any]:
    """Arrow tables "candles", "trades", "book" and "funding" of every asset, each with a
    leading ``symbol`` column (dictionary of the symbols), assets in universe order."""
    from ..frames import generate_arrow

    check_book(book)
    pa = require("pyarrow", "arrow", "universe tables")
    np = require("numpy", "arrow", "universe tables")
    u = load_universe(universe)
    parts = map_assets(u, lambda spec: generate_arrow(spec, book=book), threads)
    out = {}
    for table in TABLES:
        tables = [part[table] for part in parts]
        joined = pa.concat_tables(tables)
        symbols = _arrow_symbols(pa, np, u.symbols, [t.num_rows for t in tables])
        out[table] = joined.add_column(0, SYMBOL, pa.chunked_array([symbols]))
    return out


def universe_frames(
    universe: UniverseLike, *, book: str = "long", threads: int | None = None
) -> dict[str, Any]:
    """pandas DataFrames of ``universe_arrow``'s tables: ``symbol`` categorical, the other
    columns as ``generate_frames`` makes them, a fresh row index."""
    from ..frames import generate_frames

    check_book(book)
    pd = require("pandas", "pandas", "universe tables")
    np = require("numpy", "pandas", "universe tables")
    u = load_universe(universe)
    parts = map_assets(u, lambda spec: generate_frames(spec, book=book), threads)
    dtype = pd.CategoricalDtype(list(u.symbols))
    out = {}
    for table in TABLES:
        frames = [part[table] for part in parts]
        joined = pd.concat(frames, ignore_index=True)
        rows = [len(frame) for frame in frames]
        symbol = pd.Categorical.from_codes(
            np.repeat(np.arange(len(frames), dtype=np.int32), rows), dtype=dtype
        )
        joined.insert(0, SYMBOL, symbol)
        out[table] = joined
    return out


def universe_polars(
    universe: UniverseLike, *, book: str = "long", threads: int | None = None
) -> dict[str, Any]:
    """polars DataFrames of ``universe_arrow``'s tables (``symbol`` categorical)."""
    from ..tables import polars_tables

    pl = require("polars", "polars", "universe tables")
    return polars_tables(pl, universe_arrow(universe, book=book, threads=threads))


def universe_arrays(
    universe: UniverseLike, *, book: str = "long", threads: int | None = None
) -> dict[str, Any]:
    """numpy columns of every table as ``generate_arrays`` makes them, each with a leading
    ``symbol`` column of int32 codes into the entry "symbols" (the symbols in order)."""
    from ..arrays import generate_arrays

    check_book(book)
    np = require("numpy", "numpy", "universe tables")
    u = load_universe(universe)
    parts = map_assets(u, lambda spec: generate_arrays(spec, book=book), threads)
    out: dict[str, Any] = {}
    for table in (*TABLES, "book_levels"):
        tables = [part[table] for part in parts]
        rows = [len(t["ts"]) for t in tables]
        columns = {SYMBOL: np.repeat(np.arange(len(tables), dtype=np.int32), rows)}
        for name in tables[0]:
            columns[name] = np.concatenate([t[name] for t in tables])
        out[table] = columns
    out["symbols"] = np.array(u.symbols)
    return out


def universe_batches(
    universe: UniverseLike,
    *,
    batch_bars: int | None = None,
    arrow: bool = False,
    book: str = "long",
) -> Iterator[dict[str, Any]]:
    """Every asset's batches, asset after asset, each table with a leading ``symbol``."""
    from ..frames import iter_batches

    u = load_universe(universe)
    pa = require("pyarrow", "arrow", "iter_batches(arrow=True)") if arrow else None
    pd = None if arrow else require("pandas", "pandas", "iter_batches")
    np = require("numpy", "numpy", "iter_batches")
    symbols = list(u.symbols)
    # every asset is checked before the first batch
    runs = [iter_batches(spec, batch_bars=batch_bars, arrow=arrow, book=book) for spec in u.specs]

    def batches() -> Iterator[dict[str, Any]]:
        for code, run in enumerate(runs):
            for tables in run:
                out = {}
                for table, data in tables.items():
                    codes = np.full(data.num_rows if arrow else len(data), code, dtype=np.int32)
                    if arrow:
                        column = pa.DictionaryArray.from_arrays(pa.array(codes), pa.array(symbols))
                        out[table] = data.add_column(0, SYMBOL, column)
                    else:
                        data = data.copy(deep=False)
                        dtype = pd.CategoricalDtype(symbols)
                        data.insert(0, SYMBOL, pd.Categorical.from_codes(codes, dtype=dtype))
                        out[table] = data
                yield out

    return batches()
