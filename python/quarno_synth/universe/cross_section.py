"""A universe's closes or returns as one wide table: one row per bar, one column per symbol."""

from __future__ import annotations

from typing import Any

from .._optional import require
from .blocks import make_blocks
from .document import UniverseLike, load_universe

FIELDS = ("close", "returns")


def cross_section(
    universe: UniverseLike,
    field: str = "close",
    *,
    frame: str = "pandas",
    threads: int | None = None,
) -> Any:
    """The wide table of ``field`` ("close", or "returns": ln(close / open) of every bar,
    open being the previous bar's close) with one column per symbol in universe order.

    ``frame`` is "pandas" (a DataFrame indexed by the UTC bar time), "arrow" (a table with a
    leading ``ts`` column), "polars" (the same as a polars DataFrame) or "numpy" (a
    (bars, assets) array).
    """
    if field not in FIELDS:
        raise ValueError(f'field must be "close" or "returns", not {field!r}')
    if frame not in ("pandas", "arrow", "polars", "numpy"):
        raise ValueError(f'frame must be "pandas", "arrow", "polars" or "numpy", not {frame!r}')
    np = require("numpy", "numpy", "cross_section")
    u = load_universe(universe)
    bars = u.bars
    parts = []
    for block in make_blocks(np, u, threads):
        close = block.raw.arrays["close"].reshape(-1, bars)
        if field == "returns":
            # bar j's log return from its stored open (bar j-1's stored close) to its close
            close = np.log(close / block.raw.arrays["open"].reshape(-1, bars))
        parts.append(close)
    ts = u.start_ts + u.bar_secs * np.arange(bars, dtype=np.int64)
    wide = np.ascontiguousarray(np.concatenate(parts).T)  # bars x assets
    if frame == "numpy":
        return wide
    if frame == "pandas":
        pd = require("pandas", "pandas", "cross_section")
        index = pd.DatetimeIndex(ts.astype("datetime64[s]"), name="ts").tz_localize("UTC")
        return pd.DataFrame(wide, index=index, columns=list(u.symbols))
    values = np.concatenate(parts)
    pa = require("pyarrow", "arrow", "cross_section")
    names = ["ts", *u.symbols]
    arrays = [pa.array(ts, type=pa.int64()).cast(pa.timestamp("s", tz="UTC"))]
    arrays += [pa.array(v) for v in values]
    table = pa.Table.from_arrays(arrays, names=names)
    if frame == "arrow":
        return table
    from ..tables import polars_tables

    pl = require("polars", "polars", "cross_section")
    return polars_tables(pl, {"cross_section": table})["cross_section"]
