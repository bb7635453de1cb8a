"""A generated document as plain column lists, one table per kind of record.

Both document shapes give the same tables: candles, trades, book levels in long form
(one row per level and side) and funding.
"""

from __future__ import annotations

from collections.abc import Mapping
from operator import itemgetter
from typing import Any

from . import _json
from ._schema import COLUMNS, SIDES, TABLES
from .errors import SynthError

__all__ = ["COLUMNS", "TABLES", "Columns", "Result", "result_columns", "split_records"]

Result = Mapping[str, Any] | str | bytes

Columns = dict[str, dict[str, list[Any]]]


def split_records(result: Result) -> tuple[list[Any], list[Any], list[Any], list[Any]]:
    """Candles, snapshots, trades and funding points of either document shape."""
    if isinstance(result, (str, bytes)):
        result = _json.loads(result)
    if not isinstance(result, Mapping):
        raise TypeError(f"expected a generated document (dict), got {type(result).__name__}")
    if "events" in result:
        return _split_events(result["events"])
    if "candles" in result:
        return (
            result["candles"],
            result.get("book_snapshots", []),
            result.get("trades", []),
            result.get("funding", []),
        )
    if result.get("ok") is False and "error" in result:
        raise SynthError(str(result["error"]))
    raise ValueError('not a generated document: expected a "candles" or an "events" member')


def _split_events(events: list[Any]) -> tuple[list[Any], list[Any], list[Any], list[Any]]:
    candles: list[Any] = []
    books: list[Any] = []
    trades: list[Any] = []
    funding: list[Any] = []
    targets = {
        "candle": (candles, "candle"),
        "book": (books, "snapshot"),
        "trade": (trades, "trade"),
        "funding": (funding, "sample"),
    }
    for event in events:
        target = targets.get(event.get("type"))
        if target is None:
            raise ValueError(f"unknown event type {event.get('type')!r}")
        target[0].append(event[target[1]])
    return candles, books, trades, funding


def _pick(records: list[Any], names: tuple[str, ...]) -> dict[str, list[Any]]:
    return {name: list(map(itemgetter(name), records)) for name in names}


def _book_long(snapshots: list[Any]) -> dict[str, list[Any]]:
    size = sum(len(s["bids"]) + len(s["asks"]) for s in snapshots)
    cols: dict[str, list[Any]] = {name: [None] * size for name in COLUMNS["book"]}
    ts_col, side_col, level_col = cols["ts"], cols["side"], cols["level"]
    price_col, qty_col = cols["price"], cols["qty"]
    row = 0
    for snap in snapshots:
        ts = snap["ts"]
        for side, levels in zip(SIDES["book"], (snap["bids"], snap["asks"])):
            for level, entry in enumerate(levels):
                ts_col[row] = ts
                side_col[row] = side
                level_col[row] = level
                price_col[row] = entry["price"]
                qty_col[row] = entry["qty"]
                row += 1
    return cols


def result_columns(result: Result) -> Columns:
    """Column lists for the tables candles, trades, book and funding.

    ``ts`` stays integer seconds here; prices and quantities are floats, or None where the
    document holds null (a value that left the finite range).
    """
    candles, snapshots, trades, funding = split_records(result)
    return {
        "candles": _pick(candles, COLUMNS["candles"]),
        "trades": _pick(trades, COLUMNS["trades"]),
        "book": _book_long(snapshots),
        "funding": _pick(funding, COLUMNS["funding"]),
    }
