"""The tables a run is made of: their names, columns, element types, side names and row counts.

Every other module reads the table layout from here; the native module lays its batches out
the same way (one row per bar in ``candles``; per bar, the bids level 0 .. depth-1 then the
asks in the long ``book``).
"""

from __future__ import annotations

from typing import Any

TABLES = ("candles", "trades", "book", "funding")

COLUMNS: dict[str, tuple[str, ...]] = {
    "candles": ("ts", "open", "high", "low", "close", "volume"),
    "trades": ("ts", "seq", "price", "qty", "side"),
    "book": ("ts", "side", "level", "price", "qty"),
    "funding": ("ts", "rate"),
}

# The names of the side codes 0 and 1.
SIDES: dict[str, tuple[str, str]] = {"trades": ("buy", "sell"), "book": ("bid", "ask")}

# The two layouts of the book table: one row per level and side, or one row per bar.
BOOK_FORMS = ("long", "wide")

# generate_arrays' fifth entry: the book as (bars, depth) arrays per side.
BOOK_SIDES_ENTRY = "book_levels"

# Per-column element types of the tables; every column not named here is float64. "ts"
# becomes a UTC timestamp with second resolution, which covers every signed 64-bit second
# count (nanosecond resolution would not).
_KINDS = {
    "ts": "timestamp",
    "seq": "uint64",
    "level": "int64",
    "side": "string",
}

# The native batch's raw columns and their element types (sides as uint8 codes).
RAW_COLUMNS: dict[str, str] = {
    "ts": "int64",
    "open": "float64",
    "high": "float64",
    "low": "float64",
    "close": "float64",
    "volume": "float64",
    "level_price": "float64",
    "level_qty": "float64",
    "trade_ts": "int64",
    "trade_seq": "uint64",
    "trade_price": "float64",
    "trade_qty": "float64",
    "trade_side": "uint8",
    "funding_ts": "int64",
    "funding_rate": "float64",
}

# The long book's key columns as the native batch makes them (column name, element type).
BOOK_KEY_COLUMNS = (("ts", "int64"), ("side", "uint8"), ("level", "int64"))


def column_kind(name: str) -> str:
    """The element type of column ``name``: "timestamp", "uint64", "int64", "string" or
    "float64"."""
    return _KINDS.get(name, "float64")


def wide_book_columns(depth: int) -> tuple[str, ...]:
    """ts, bid_price_0, bid_qty_0, ..., bid_qty_{d-1}, ask_price_0, ..., ask_qty_{d-1}."""
    names = ["ts"]
    for side in SIDES["book"]:
        for level in range(depth):
            names += [f"{side}_price_{level}", f"{side}_qty_{level}"]
    return tuple(names)


def column_names(table: str, book: str, depth: int) -> tuple[str, ...]:
    """The columns of ``table``, the book in layout ``book``."""
    if table == "book" and book == "wide":
        return wide_book_columns(depth)
    return COLUMNS[table]


def book_rows_per_bar(depth: int, book: str) -> int:
    """Rows of the book table per bar: one per level and side (long), or one (wide)."""
    return 2 * depth if book == "long" else 1


def native_table_name(table: str, book: str) -> str:
    """The name the native CSV writer knows ``table`` by ("book_wide" for the wide book)."""
    return "book_wide" if table == "book" and book == "wide" else table


def arrow_type(pa: Any, name: str) -> Any:
    """The Arrow type of column ``name`` (``pa`` is the pyarrow module)."""
    kind = column_kind(name)
    if kind == "timestamp":
        return pa.timestamp("s", tz="UTC")
    return {"uint64": pa.uint64(), "int64": pa.int64(), "string": pa.string()}.get(
        kind, pa.float64()
    )
