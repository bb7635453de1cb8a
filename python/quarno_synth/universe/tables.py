"""A universe's tables: every asset's tables one after another, with a leading ``symbol``.

Assets are generated independently, each from its own expanded spec, on a pool of threads
(the native run releases the interpreter lock); the result does not depend on the number of
threads. ``symbol`` is categorical, its categories the universe's symbols in document order.
"""

from __future__ import annotations

import concurrent.futures as cf
import os
from collections.abc import Callable, Iterator, Sequence
from typing import Any

from .._optional import require
from .._options import check_book, check_labels
from .._schema import TABLES
from ..errors import SynthError
from .blocks import for_blocks, make_block, make_blocks
from .document import Universe, UniverseLike, load_universe

SYMBOL = "symbol"


def worker_count(threads: int | None, items: int) -> int:
    """``threads`` checked, or one per core (at most one per item)."""
    if threads is None:
        return max(1, min(os.cpu_count() or 1, items))
    if isinstance(threads, bool) or not isinstance(threads, int) or threads < 1:
        raise ValueError(f"threads must be a positive int, not {threads!r}")
    return threads


def parallel_map(
    make: Callable[[Any], Any], items: Sequence[Any], threads: int | None
) -> list[Any]:
    """``make(item)`` for every item, results in order, on ``threads`` threads (default: one
    per core)."""
    workers = worker_count(threads, len(items))
    if workers == 1:
        return [make(item) for item in items]
    with cf.ThreadPoolExecutor(workers) as pool:
        return list(pool.map(make, items))


def map_assets(
    universe: Universe, make: Callable[[dict[str, Any]], Any], threads: int | None = None
) -> list[Any]:
    """``make(spec)`` for every asset, in the universe's order, on ``threads`` threads."""
    return parallel_map(make, universe.specs, threads)


def universe_arrow(
    universe: UniverseLike,
    *,
    book: str = "long",
    threads: int | None = None,
    labels: bool = False,
) -> dict[str, Any]:
    """Arrow tables "candles", "trades", "book" and "funding" of every asset, each with a
    leading ``symbol`` column (dictionary of the symbols), assets in universe order;
    ``labels=True`` appends the bars' labels to the candles."""
    from ..frames import arrow_batches, arrow_schema

    check_book(book)
    check_labels(labels)
    pa = require("pyarrow", "arrow", "universe tables")
    np = require("numpy", "arrow", "universe tables")
    u = load_universe(universe)
    _check_wide(u, book)
    dictionary = pa.array(list(u.symbols))
    symbol = pa.field(SYMBOL, pa.dictionary(pa.int32(), pa.string()))

    def block_batches(assets: range) -> tuple[int, dict[str, Any]]:
        # converted in the worker too: one block's conversion overlaps another's native run
        block = make_block(np, u, assets, labels=labels)
        batches = {}
        for table, batch in arrow_batches(pa, np, block.raw, book).items():
            codes = pa.array(block.codes(np, table, book))
            column = pa.DictionaryArray.from_arrays(codes, dictionary)
            batches[table] = batch.add_column(0, symbol, column)
        return block.raw.depth, batches

    blocks = for_blocks(u, threads, block_batches)
    depth = blocks[0][0]
    out = {}
    for table in TABLES:
        schema = arrow_schema(pa, table, book, depth, labels).insert(0, symbol)
        out[table] = pa.Table.from_batches([b[table] for _, b in blocks], schema=schema)
    return out


def _check_wide(u: Universe, book: str, what: str = 'book="wide"') -> None:
    """Wide books (and the arrays' book_levels) of different depths do not stack."""
    if book == "wide" or what != 'book="wide"':
        depths = {spec["microstructure"].get("book_depth") for spec in u.specs}
        if len(depths) > 1:
            raise ValueError(f"{what} needs one book_depth for every asset of the universe")


def universe_frames(
    universe: UniverseLike,
    *,
    book: str = "long",
    threads: int | None = None,
    labels: bool = False,
) -> dict[str, Any]:
    """pandas DataFrames of ``universe_arrow``'s tables: ``symbol`` categorical, the other
    columns as ``generate_frames`` makes them, a fresh row index."""
    from ..frames import _pandas_tables

    check_book(book)
    check_labels(labels)
    pd = require("pandas", "pandas", "universe tables")
    np = require("numpy", "pandas", "universe tables")
    u = load_universe(universe)
    _check_wide(u, book)
    dtype = pd.CategoricalDtype(list(u.symbols))

    def block_frames(assets: range) -> dict[str, Any]:
        block = make_block(np, u, assets, labels=labels)
        frames = _pandas_tables(pd, np, block.raw, book)
        for table, frame in frames.items():
            symbol = pd.Categorical.from_codes(block.codes(np, table, book), dtype=dtype)
            frame.insert(0, SYMBOL, symbol)
        return frames

    blocks = for_blocks(u, threads, block_frames)
    return {table: pd.concat([b[table] for b in blocks], ignore_index=True) for table in TABLES}


def universe_polars(
    universe: UniverseLike,
    *,
    book: str = "long",
    threads: int | None = None,
    labels: bool = False,
) -> dict[str, Any]:
    """polars DataFrames of ``universe_arrow``'s tables (``symbol`` categorical)."""
    from ..tables import polars_tables

    pl = require("polars", "polars", "universe tables")
    return polars_tables(pl, universe_arrow(universe, book=book, threads=threads, labels=labels))


def universe_arrays(
    universe: UniverseLike,
    *,
    book: str = "long",
    threads: int | None = None,
    labels: bool = False,
) -> dict[str, Any]:
    """numpy columns of every table as ``generate_arrays`` makes them, each with a leading
    ``symbol`` column of int32 codes into the entry "symbols" (the symbols in order)."""
    from ..arrays import book_sides, table_arrays

    check_book(book)
    check_labels(labels)
    np = require("numpy", "numpy", "universe tables")
    u = load_universe(universe)
    _check_wide(u, book, "generate_arrays (its book_levels entry)")
    blocks = make_blocks(np, u, threads, labels)
    parts: dict[str, list[Any]] = {table: [] for table in (*TABLES, "book_levels")}
    for block in blocks:
        tables = table_arrays(np, block.raw, book)
        tables["book_levels"] = book_sides(block.raw)
        for table, columns in tables.items():
            rows = block.rows("candles" if table == "book_levels" else table, book)
            codes = np.repeat(np.arange(block.first, block.first + len(rows), dtype=np.int32), rows)
            parts[table].append({SYMBOL: codes, **columns})
    out: dict[str, Any] = {
        table: {name: np.concatenate([p[name] for p in chunks]) for name in chunks[0]}
        for table, chunks in parts.items()
    }
    out["symbols"] = np.array(u.symbols)
    return out


def universe_batches(
    universe: UniverseLike,
    *,
    batch_bars: int | None = None,
    arrow: bool = False,
    book: str = "long",
    labels: bool = False,
) -> Iterator[dict[str, Any]]:
    """Every asset's batches, asset after asset, each table with a leading ``symbol``."""
    from ..frames import iter_batches

    u = load_universe(universe)
    pa: Any = require("pyarrow", "arrow", "iter_batches(arrow=True)") if arrow else None
    pd: Any = None if arrow else require("pandas", "pandas", "iter_batches")
    np = require("numpy", "numpy", "iter_batches")
    symbols = list(u.symbols)
    # every asset is checked before the first batch
    runs = []
    for symbol, spec in u:
        try:
            runs.append(
                iter_batches(spec, batch_bars=batch_bars, arrow=arrow, book=book, labels=labels)
            )
        except SynthError as exc:
            raise SynthError(f'universe: asset "{symbol}": {exc}') from None

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
