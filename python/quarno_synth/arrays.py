"""A run's tables as numpy columns, straight from the native batches (no JSON in between).

The tables and columns are those of ``to_pandas``; here ``ts`` is int64 seconds and ``side``
is a uint8 code (see SIDES). Columns taken over from a batch are views of its memory.
"""

from __future__ import annotations

from typing import Any

from ._optional import require
from ._options import check_book
from ._schema import (
    BOOK_KEY_COLUMNS,
    BOOK_SIDES_ENTRY,
    COLUMNS,
    LABELS,
    REGIME_KINDS,
    SIDES,
    book_rows_per_bar,
    wide_book_columns,
)
from ._spec_text import Spec
from .batches import RawColumns, concat_raw, whole_run

__all__ = [
    "LABELS",
    "REGIME_KINDS",
    "SIDES",
    "book_sides",
    "generate_arrays",
    "table_arrays",
    "wide_book_columns",
]

Arrays = dict[str, Any]


def book_sides(raw: RawColumns) -> Arrays:
    """The snapshot's ts per bar, and (bars, depth) views of the level columns per side
    (level 0 = best)."""
    shape = (raw.bars, 2, raw.depth)
    price = raw.arrays["level_price"].reshape(shape)
    qty = raw.arrays["level_qty"].reshape(shape)
    return {
        "ts": raw.arrays["snapshot_ts"],
        "bid_price": price[:, 0, :],
        "bid_qty": qty[:, 0, :],
        "ask_price": price[:, 1, :],
        "ask_qty": qty[:, 1, :],
    }


def _long_book(np: Any, raw: RawColumns) -> Arrays:
    if raw.batch is not None:
        # made natively, with the interpreter lock released
        keys = {
            name: np.frombuffer(raw.batch.column(f"book_{name}"), dtype=dtype)
            for name, dtype in BOOK_KEY_COLUMNS
        }
    else:
        depth, bars = raw.depth, raw.bars
        # rows per bar: bids level 0..d-1, then asks level 0..d-1
        sides = np.repeat(np.array([0, 1], dtype=np.uint8), depth)
        keys = {
            "ts": np.repeat(raw.arrays["snapshot_ts"], book_rows_per_bar(depth, "long")),
            "side": np.tile(sides, bars),
            "level": np.tile(np.arange(depth, dtype=np.int64), 2 * bars),
        }
    return {**keys, "price": raw.arrays["level_price"], "qty": raw.arrays["level_qty"]}


def _wide_book(raw: RawColumns) -> Arrays:
    sides = book_sides(raw)
    columns = {"ts": sides["ts"]}
    for side in SIDES["book"]:
        price, qty = sides[f"{side}_price"], sides[f"{side}_qty"]
        for level in range(raw.depth):
            columns[f"{side}_price_{level}"] = price[:, level]
            columns[f"{side}_qty_{level}"] = qty[:, level]
    return columns


def table_arrays(np: Any, raw: RawColumns, book: str) -> dict[str, Arrays]:
    """The four tables of ``raw`` as numpy columns."""
    a = raw.arrays
    candles = {name: a[name] for name in COLUMNS["candles"]}
    if raw.labels:
        candles.update((name, a[f"label_{name}"]) for name in LABELS)
    trades = (
        {"ts": a["trade_ts"], "ts_ns": a["trade_ts_ns"]} if raw.ticks else {"ts": a["trade_ts"]}
    )
    trades.update(seq=a["trade_seq"], price=a["trade_price"], qty=a["trade_qty"])
    trades["side"] = a["trade_side"]
    return {
        "candles": candles,
        "trades": trades,
        "book": _long_book(np, raw) if book == "long" else _wide_book(raw),
        "funding": {"ts": a["funding_ts"], "rate": a["funding_rate"]},
    }


def generate_arrays(spec: Spec, *, book: str = "long", labels: bool = False) -> dict[str, Arrays]:
    """Run ``spec`` and return its tables as numpy columns: {table: {column: ndarray}}.

    Tables "candles", "trades", "book" (long form, or wide with ``book="wide"``) and
    "funding" have the columns of ``to_pandas``, with ``ts`` as int64 seconds and ``side`` as
    uint8 codes (trades: 0 buy, 1 sell; book: 0 bid, 1 ask). The trades of a tick run have
    ``ts_ns`` (int64 nanoseconds) after ``ts``. A fifth entry "book_levels"
    holds "ts" (one per bar) and "bid_price", "bid_qty", "ask_price", "ask_qty" as
    (bars, book_depth) views, level 0 (best) first. NaN stands where the document has null.
    Times: a candle's ``ts`` is its bar's open time; the book's and the trades' ``ts`` too in a
    classic run (priced at the close), the bar's close time for the book of a tick run.
    """
    from .universe.document import is_universe

    if is_universe(spec):
        from .universe.tables import universe_arrays

        return universe_arrays(spec, book=book, labels=labels)
    check_book(book)
    np = require("numpy", "numpy", "generate_arrays")
    raw = concat_raw(np, whole_run(np, spec, labels, book))
    tables = table_arrays(np, raw, book)
    tables[BOOK_SIDES_ENTRY] = book_sides(raw)
    return tables
