"""A run's tables as pandas DataFrames, Arrow tables or polars DataFrames, made from the
native batches: the same tables, columns and values as ``to_pandas(generate(spec))`` and
``to_arrow(...)``, without the JSON document in between.
"""

from __future__ import annotations

from collections.abc import Iterator
from functools import cache, lru_cache
from typing import Any

from ._optional import require
from ._options import check_book
from ._schema import KINDS, SIDES, TABLES, arrow_type, book_rows_per_bar, column_names
from ._spec_text import Spec
from .arrays import table_arrays
from .batches import RawColumns, batch_size, concat_raw, iter_raw, open_run, whole_run
from .tables import polars_tables

__all__ = [
    "arrow_batches",
    "arrow_schema",
    "generate_arrow",
    "generate_frames",
    "generate_polars",
    "iter_batches",
]

# Arrow string offsets are int32.
_MAX_STRING_BYTES = 2**31 - 1


def _first_rows(raw: RawColumns, book: str) -> dict[str, int]:
    """Row number, in the whole run's tables, of the first row of each table of ``raw``."""
    return {
        "candles": raw.first_bar,
        "trades": raw.first_trade,
        "book": raw.first_bar * book_rows_per_bar(raw.depth, book),
        "funding": raw.first_funding,
    }


# --- pandas -----------------------------------------------------------------------------


@cache
def _pandas_types(pd: Any, np: Any) -> tuple[Any, dict[str, Any]]:
    # made exactly as to_pandas makes them, so the dtypes compare equal
    ts = pd.Series(np.array([], dtype="datetime64[s]")).dt.tz_localize("UTC").dtype
    sides = {table: pd.CategoricalDtype(list(names)) for table, names in SIDES.items()}
    sides["candles"] = pd.CategoricalDtype(list(KINDS))  # the "kind" label
    return ts, sides


def _utc_seconds(pd: Any, ts_dtype: Any, seconds: Any) -> Any:
    naive = seconds.view("datetime64[s]")
    simple_new = getattr(pd.arrays.DatetimeArray, "_simple_new", None)
    if simple_new is not None:
        try:  # wraps the int64 seconds as they are
            return simple_new(naive, dtype=ts_dtype)
        except (TypeError, ValueError):
            pass
    return pd.array(naive, dtype=ts_dtype)


def _categorical(pd: Any, np: Any, codes: Any, dtype: Any) -> Any:
    codes = codes.view(np.int8)  # 0 and 1
    try:
        return pd.Categorical.from_codes(codes, dtype=dtype, validate=False)
    except TypeError:  # pandas before 2.1 always validates
        return pd.Categorical.from_codes(codes, dtype=dtype)


def _pandas_frame(pd: Any, np: Any, table: str, columns: dict[str, Any], first_row: int) -> Any:
    ts_dtype, side_dtypes = _pandas_types(pd, np)
    data = {}
    for name, values in columns.items():
        if name == "ts":
            data[name] = _utc_seconds(pd, ts_dtype, values)
        elif name in ("side", "kind"):
            data[name] = _categorical(pd, np, values, side_dtypes[table])
        else:
            data[name] = values
    rows = len(columns["ts"])
    return pd.DataFrame(data, index=pd.RangeIndex(first_row, first_row + rows), copy=False)


def _pandas_tables(pd: Any, np: Any, raw: RawColumns, book: str) -> dict[str, Any]:
    first = _first_rows(raw, book)
    return {
        table: _pandas_frame(pd, np, table, columns, first[table])
        for table, columns in table_arrays(np, raw, book).items()
    }


def generate_frames(spec: Spec, *, book: str = "long", labels: bool = False) -> dict[str, Any]:
    """Run ``spec`` and return the DataFrames "candles", "trades", "book" and "funding".

    The same frames as ``to_pandas(generate(spec))``, made without the JSON document; most
    columns share the memory of the native run.

    Parameters
    ----------
    spec
        A dict (or list, the array form) or a JSON text.
    book
        "long": one row per level and side; "wide": one row per bar (columns ``ts,
        bid_price_0, bid_qty_0, ..., ask_qty_{d-1}``).
    labels
        True appends to the candles the bar's ``regime`` (int64), ``kind`` (categorical),
        ``sigma`` (the conditional vol used) and ``jump`` (the jump in the log return).

    Returns
    -------
    dict of str to pandas.DataFrame

    Raises
    ------
    SynthError
        The spec is rejected, or the run fails.

    Examples
    --------
    >>> frames = qs.generate_frames(qs.example_spec("calm_trend"))
    >>> frames["candles"].columns.tolist()
    ['ts', 'open', 'high', 'low', 'close', 'volume']
    """
    check_book(book)
    pd = require("pandas", "pandas", "generate_frames")
    np = require("numpy", "pandas", "generate_frames")
    raw = concat_raw(np, whole_run(np, spec, labels))
    return _pandas_tables(pd, np, raw, book)


# --- Arrow ------------------------------------------------------------------------------


def _strings(pa: Any, np: Any, codes: Any, names: tuple[str, ...]) -> Any:
    """A string array of names[code] for every code (Arrow's own dictionary decoding)."""
    indices = pa.array(codes.view(np.int8))
    return pa.DictionaryArray.from_arrays(indices, pa.array(names)).cast(pa.string())


def _book_sides(pa: Any, np: Any, bars: int, depth: int) -> Any:
    """The long book's side column: per bar "bid" for every level, then "ask" (both 3 bytes)."""
    bid, ask = (name.encode() for name in SIDES["book"])
    width = len(bid)
    rows = book_rows_per_bar(depth, "long") * bars
    if rows * width > _MAX_STRING_BYTES:
        raise ValueError("too many rows for one Arrow string column; use smaller batches")
    data = np.tile(np.frombuffer(bid * depth + ask * depth, dtype=np.uint8), bars)
    offsets = np.arange(0, (rows + 1) * width, width, dtype=np.int32)
    return pa.Array.from_buffers(
        pa.string(), rows, [None, pa.py_buffer(offsets), pa.py_buffer(data)]
    )


def _floats(pa: Any, np: Any, values: Any) -> Any:
    """float64 with null where the value is NaN (null in the document); data not copied."""
    values = np.ascontiguousarray(values)
    validity, nulls = None, 0
    if len(values) and np.isnan(values.min()):  # min is NaN exactly when some value is
        missing = np.isnan(values)
        nulls = int(np.count_nonzero(missing))
        validity = pa.py_buffer(np.packbits(~missing, bitorder="little"))
    return pa.Array.from_buffers(
        pa.float64(), len(values), [validity, pa.py_buffer(values)], null_count=nulls
    )


def _arrow_array(pa: Any, np: Any, table: str, name: str, values: Any) -> Any:
    if name == "side":
        return _strings(pa, np, values, SIDES[table])
    if name == "kind":
        return _strings(pa, np, values, KINDS)
    if values.dtype == np.float64:
        return _floats(pa, np, values)
    values = np.ascontiguousarray(values)
    return pa.Array.from_buffers(arrow_type(pa, name), len(values), [None, pa.py_buffer(values)])


@lru_cache(maxsize=256)
def arrow_schema(pa: Any, table: str, book: str, depth: int, labels: bool = False) -> Any:
    names = column_names(table, book, depth, labels)
    return pa.schema([(name, arrow_type(pa, name)) for name in names])


def arrow_batches(pa: Any, np: Any, raw: RawColumns, book: str) -> dict[str, Any]:
    """One Arrow record batch per table of ``raw``."""
    batches = {}
    for table, columns in table_arrays(np, raw, book).items():
        arrays = []
        for name, values in columns.items():
            if table == "book" and name == "side":
                arrays.append(_book_sides(pa, np, raw.bars, raw.depth))
            else:
                arrays.append(_arrow_array(pa, np, table, name, values))
        schema = arrow_schema(pa, table, book, raw.depth, raw.labels)
        batches[table] = pa.RecordBatch.from_arrays(arrays, schema=schema)
    return batches


def generate_arrow(spec: Spec, *, book: str = "long", labels: bool = False) -> dict[str, Any]:
    """Run ``spec`` and return the Arrow tables of ``to_arrow(generate(spec))`` (nulls stay
    null); ``book="wide"`` and ``labels=True`` as for ``generate_frames`` (``kind`` is a
    string column)."""
    check_book(book)
    pa = require("pyarrow", "arrow", "generate_arrow")
    np = require("numpy", "arrow", "generate_arrow")
    parts = whole_run(np, spec, labels)
    batches = [arrow_batches(pa, np, raw, book) for raw in parts]
    depth = parts[0].depth
    return {
        table: pa.Table.from_batches(
            [b[table] for b in batches], schema=arrow_schema(pa, table, book, depth, labels)
        )
        for table in TABLES
    }


def generate_polars(spec: Spec, *, book: str = "long", labels: bool = False) -> dict[str, Any]:
    """Run ``spec`` and return its tables as polars DataFrames (made from ``generate_arrow``),
    the same as ``to_polars(generate(spec))``."""
    pl = require("polars", "polars", "generate_polars")
    require("pyarrow", "polars", "generate_polars")
    return polars_tables(pl, generate_arrow(spec, book=book, labels=labels))


# --- batch by batch ---------------------------------------------------------------------


def iter_batches(
    spec: Spec,
    *,
    batch_bars: int | None = None,
    arrow: bool = False,
    book: str = "long",
    labels: bool = False,
) -> Iterator[dict[str, Any]]:
    """The run of ``spec`` batch by batch: per batch a dict of the four tables "candles",
    "trades", "book" and "funding" holding that batch's rows.

    pandas DataFrames (indexed by their row numbers in the whole run's tables), or Arrow
    record batches with ``arrow=True``. Concatenated they are the tables of
    ``generate_frames`` / ``generate_arrow``. ``batch_bars`` defaults to about 64 MB of
    columns. The spec is checked at once; a run that fails later raises after the batches
    before the failure were handed out. ``labels=True`` as for ``generate_frames``.
    """
    check_book(book)
    if arrow:
        mod = require("pyarrow", "arrow", "iter_batches(arrow=True)")
        np = require("numpy", "arrow", "iter_batches(arrow=True)")
    else:
        mod = require("pandas", "pandas", "iter_batches")
        np = require("numpy", "pandas", "iter_batches")
    run = open_run(spec, labels)
    size = batch_size(run, batch_bars)
    convert = arrow_batches if arrow else _pandas_tables

    def batches() -> Iterator[dict[str, Any]]:
        for raw in iter_raw(np, run, size):
            yield convert(mod, np, raw, book)

    return batches()
