"""Reading a real price series: closes (and high, low, volume when present) and bar times.

One bar per row. ``bar_secs`` is the median spacing of the timestamps in whole seconds, so a
business-day series (weekends and holidays skipped) gets one day; a series without timestamps
gets 86400. Rows whose price is missing (NaN) are dropped, the rest must be positive.
"""

from __future__ import annotations

import os
from dataclasses import dataclass
from typing import Any

import numpy as np

from .._optional import require

MIN_BARS = 100
DEFAULT_BAR_SECS = 86400
_TIME_NAMES = ("date", "datetime", "time", "timestamp", "ts")


class DataError(ValueError):
    """The series cannot be fitted; the message says why, in one line."""


@dataclass(frozen=True)
class Series:
    close: np.ndarray
    high: np.ndarray | None
    low: np.ndarray | None
    volume: np.ndarray | None
    times: np.ndarray | None  # seconds since the epoch
    start_ts: int | None
    bar_secs: int
    label: str  # the column the closes came from


def _columns_of(frame: Any) -> dict[str, Any]:
    """Column name (lower case, stripped) -> original name."""
    found: dict[str, Any] = {}
    for name in frame.columns:
        found.setdefault(str(name).strip().lower(), name)
    return found


def _float_column(frame: Any, name: Any) -> np.ndarray:
    try:
        values = np.asarray(frame[name], dtype=np.float64)
    except (TypeError, ValueError):
        raise DataError(f"column '{name}' is not numeric") from None
    return values.reshape(-1)


def _seconds(times: Any) -> np.ndarray:
    """Timestamps as int64 seconds since the epoch (naive times read as UTC)."""
    pd = require("pandas", "pandas", "reading timestamps")
    try:
        index = pd.DatetimeIndex(pd.to_datetime(times, utc=True))
    except (TypeError, ValueError) as exc:
        raise DataError(f"timestamps cannot be read: {exc}".splitlines()[0]) from None
    if index.hasnans:
        raise DataError(f"missing timestamp at row {int(np.flatnonzero(index.isna())[0])}")
    seconds: np.ndarray = index.as_unit("s").asi8.astype(np.int64)
    return seconds


def _read_path(path: str | os.PathLike[str]) -> Any:
    pd = require("pandas", "pandas", "reading a price file")
    text = os.fspath(path)
    if not os.path.exists(text):
        raise DataError(f"no such file: {text}")
    try:
        if text.lower().endswith((".parquet", ".pq")):
            return pd.read_parquet(text)
        return pd.read_csv(text)
    except (ValueError, OSError, ImportError) as exc:
        raise DataError(f"cannot read {text}: {exc}".splitlines()[0]) from None


def _from_polars(frame: Any) -> Any:
    pd = require("pandas", "pandas", "fitting a polars frame")
    return pd.DataFrame({name: frame[name].to_numpy() for name in frame.columns})


def _frame_times(frame: Any, columns: dict[str, Any]) -> np.ndarray | None:
    pd = require("pandas", "pandas", "reading timestamps")
    if isinstance(frame.index, pd.DatetimeIndex):
        return _seconds(frame.index)
    for name in _TIME_NAMES:
        if name in columns:
            return _seconds(frame[columns[name]])
    return None


def read_series(data: Any, column: str = "close") -> Series:
    """The closes (and what else the data has) of ``data``; raises DataError when unusable."""
    wanted = column.strip().lower()
    if isinstance(data, (str, os.PathLike)):
        data = _read_path(data)
    module = type(data).__module__.split(".")[0]
    if module == "polars":
        data = _from_polars(data)
    times: np.ndarray | None = None
    high = low = volume = None
    label = column
    if hasattr(data, "columns"):  # a pandas frame
        columns = _columns_of(data)
        if wanted not in columns:
            raise DataError(f"no '{column}' column (columns: {', '.join(map(str, data.columns))})")
        label = str(columns[wanted])
        close = _float_column(data, columns[wanted])
        high = _float_column(data, columns["high"]) if "high" in columns else None
        low = _float_column(data, columns["low"]) if "low" in columns else None
        volume = _float_column(data, columns["volume"]) if "volume" in columns else None
        times = _frame_times(data, columns)
    else:
        if hasattr(data, "index") and hasattr(data, "name"):  # a pandas Series
            times = _frame_times(data, {})
            label = str(data.name) if data.name is not None else column
        try:
            close = np.asarray(data, dtype=np.float64).reshape(-1)
        except (TypeError, ValueError):
            raise DataError("prices are not numeric") from None
    return _checked(close, high, low, volume, times, label)


def _checked(
    close: np.ndarray,
    high: np.ndarray | None,
    low: np.ndarray | None,
    volume: np.ndarray | None,
    times: np.ndarray | None,
    label: str,
) -> Series:
    keep = ~np.isnan(close)
    if not keep.all():
        close = close[keep]
        high = high[keep] if high is not None else None
        low = low[keep] if low is not None else None
        volume = volume[keep] if volume is not None else None
        times = times[keep] if times is not None else None
    if len(close) < MIN_BARS:
        raise DataError(f"too short: {len(close)} prices, at least {MIN_BARS} needed")
    bad = np.flatnonzero(~(np.isfinite(close) & (close > 0.0)))
    if len(bad):
        raise DataError(f"prices must be finite and > 0 (row {int(bad[0])}: {close[bad[0]]!r})")
    if (close == close[0]).all():
        raise DataError("prices never change: there is nothing to fit")
    bar_secs = DEFAULT_BAR_SECS
    start_ts = None
    if times is not None:
        steps = np.diff(times)
        if (steps == 0).any():
            raise DataError(f"duplicate timestamp at row {int(np.flatnonzero(steps == 0)[0]) + 1}")
        if (steps < 0).any():
            raise DataError(f"timestamps not sorted at row {int(np.flatnonzero(steps < 0)[0]) + 1}")
        bar_secs = max(1, int(np.median(steps)))
        start_ts = int(times[0])
    if high is not None and low is not None:
        usable = np.isfinite(high) & np.isfinite(low) & (low > 0.0) & (high >= low)
        if usable.mean() < 0.9:
            high = low = None
    if volume is not None and not (np.isfinite(volume) & (volume > 0.0)).any():
        volume = None
    return Series(close, high, low, volume, times, start_ts, bar_secs, label)
