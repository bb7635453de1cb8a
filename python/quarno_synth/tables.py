"""Generated documents as pandas DataFrames or Arrow tables (optional extras)."""

from __future__ import annotations

from typing import Any

from ._optional import require
from .columns import COLUMNS, TABLES, Result, result_columns

# Per-column element types; "ts" becomes a UTC timestamp with second resolution, which covers
# every signed 64-bit second count (nanosecond resolution would not).
_KINDS = {
    "ts": "timestamp",
    "seq": "uint64",
    "level": "int64",
    "side": "string",
}


def _kind(column: str) -> str:
    return _KINDS.get(column, "float64")


def _pandas_column(pd: Any, np: Any, table: str, name: str, values: list) -> Any:
    kind = _kind(name)
    if kind == "timestamp":
        seconds = np.array(values, dtype="int64").astype("datetime64[s]")
        return pd.Series(seconds).dt.tz_localize("UTC")
    if kind == "string":
        categories = ["bid", "ask"] if table == "book" else ["buy", "sell"]
        return pd.Series(pd.Categorical(values, categories=categories))
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


def _arrow_type(pa: Any, name: str) -> Any:
    kind = _kind(name)
    if kind == "timestamp":
        return pa.timestamp("s", tz="UTC")
    return {"uint64": pa.uint64(), "int64": pa.int64(), "string": pa.string()}.get(
        kind, pa.float64()
    )


def to_arrow(result: Result) -> dict[str, Any]:
    """Arrow tables "candles", "trades", "book" (long form) and "funding".

    Same tables and columns as ``to_pandas``; ``ts`` is timestamp[s, tz=UTC], nulls in the
    document stay null.
    """
    pa = require("pyarrow", "arrow", "to_arrow")
    cols = result_columns(result)
    return {table: arrow_table(pa, table, cols[table]) for table in TABLES}


def arrow_table(pa: Any, table: str, columns: dict[str, list]) -> Any:
    """One Arrow table from the column lists of ``result_columns``."""
    schema = pa.schema([(name, _arrow_type(pa, name)) for name in COLUMNS[table]])
    arrays = [pa.array(columns[name], type=schema.field(name).type) for name in COLUMNS[table]]
    return pa.Table.from_arrays(arrays, schema=schema)
