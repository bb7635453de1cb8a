"""A universe's closes or returns as one wide table: one row per bar, one column per symbol."""

from __future__ import annotations

from typing import Any

from .._optional import require
from ..batches import concat_raw, whole_run
from .document import UniverseLike, load_universe
from .tables import map_assets

FIELDS = ("close", "returns")


def _column(np: Any, spec: dict, field: str) -> tuple[Any, Any]:
    raw = concat_raw(np, whole_run(np, spec))
    close = raw.arrays["close"]
    if field == "close":
        return raw.arrays["ts"], close
    # bar j's log return from its stored open (bar j-1's stored close) to its stored close
    return raw.arrays["ts"], np.log(close / raw.arrays["open"])


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
    columns = map_assets(u, lambda spec: _column(np, spec, field), threads)
    ts = columns[0][0]
    values = [np.asarray(column) for _, column in columns]
    if frame == "numpy":
        return np.column_stack(values) if values else np.empty((len(ts), 0))
    if frame == "pandas":
        pd = require("pandas", "pandas", "cross_section")
        index = pd.DatetimeIndex(ts.astype("datetime64[s]"), name="ts").tz_localize("UTC")
        return pd.DataFrame(dict(zip(u.symbols, values)), index=index)
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
