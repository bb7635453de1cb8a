"""Generated documents as pandas DataFrames, Arrow tables or polars DataFrames (optional extras)."""

from __future__ import annotations

from typing import Any

from ._optional import require
from ._schema import COLUMNS, SIDES, TABLES, arrow_type, column_kind
from .columns import Result, result_columns

__all__ = [
    "arrow_table",
    "arrow_type",
    "check_ms_range",
    "polars_tables",
    "to_arrow",
    "to_pandas",
    "to_polars",
]


def _pandas_column(pd: Any, np: Any, table: str, name: str, values: list[Any]) -> Any:
    kind = column_kind(name)
    if kind == "timestamp":
        seconds = np.array(values, dtype="int64").astype("datetime64[s]")
        return pd.Series(seconds).dt.tz_localize("UTC")
    if kind == "string":
        return pd.Series(pd.Categorical(values, categories=list(SIDES[table])))
    # None (null in the document) becomes NaN
    return pd.Series(np.array(values, dtype=kind))


def to_pandas(result: Result) -> dict[str, Any]:
    """DataFrames "candles", "trades", "book" (long form) and "funding" of a generated document.

    Accepts the grouped or the stream document (parsed, or its JSON text). ``ts`` columns are
    UTC datetimes; ``side`` columns are categoricals.
    """
    pd = require("pandas", "pandas", "to_pandas")
    np = require("numpy", "pandas", "to_pandas")
    cols = result_columns(result)
    return {
        table: pd.DataFrame(
            {
                name: _pandas_column(pd, np, table, name, cols[table][name])
                for name in COLUMNS[table]
            }
        )
        for table in TABLES
    }


def to_arrow(result: Result) -> dict[str, Any]:
    """Arrow tables "candles", "trades", "book" (long form) and "funding".

    Same tables and columns as ``to_pandas``; ``ts`` is timestamp[s, tz=UTC], nulls in the
    document stay null.
    """
    pa = require("pyarrow", "arrow", "to_arrow")
    cols = result_columns(result)
    return {table: arrow_table(pa, table, cols[table]) for table in TABLES}


def arrow_table(pa: Any, table: str, columns: dict[str, list[Any]]) -> Any:
    """One Arrow table from the column lists of ``result_columns``."""
    schema = pa.schema([(name, arrow_type(pa, name)) for name in COLUMNS[table]])
    arrays = [pa.array(columns[name], type=schema.field(name).type) for name in COLUMNS[table]]
    return pa.Table.from_arrays(arrays, schema=schema)


# polars keeps datetimes in milliseconds at the coarsest
MS_LIMIT_SECS = (2**63 - 1) // 1000
_MS_RANGE_ERROR = "timestamps beyond about 292 million years from 1970 do not fit {what}"


def check_ms_range(first_ts: int, last_ts: int, what: str) -> None:
    """Refuse seconds that milliseconds in an int64 cannot hold (they would wrap around)."""
    if first_ts < -MS_LIMIT_SECS or last_ts > MS_LIMIT_SECS:
        raise ValueError(_MS_RANGE_ERROR.format(what=what))


def polars_tables(pl: Any, tables: dict[str, Any]) -> dict[str, Any]:
    """polars DataFrames of Arrow tables; ``ts`` becomes Datetime("ms", "UTC")."""
    pc = require("pyarrow.compute", "polars", "to_polars")
    for table in tables.values():
        ts = table.column("ts")
        if len(ts) > ts.null_count:
            bounds = pc.min_max(ts.cast("int64"))
            check_ms_range(bounds["min"].as_py(), bounds["max"].as_py(), "polars")
    return {name: pl.from_arrow(table) for name, table in tables.items()}


def to_polars(result: Result) -> dict[str, Any]:
    """polars DataFrames "candles", "trades", "book" and "funding", made from ``to_arrow``.

    ``ts`` is Datetime("ms", "UTC") (polars has no seconds unit; timestamps beyond its range
    raise ValueError), ``side`` is a string column, nulls stay null.
    """
    pl = require("polars", "polars", "to_polars")
    require("pyarrow", "polars", "to_polars")
    return polars_tables(pl, to_arrow(result))
