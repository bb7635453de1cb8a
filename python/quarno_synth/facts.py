"""The stylized-facts scorecard: how much a price series behaves like a real market's.

From closes (a pandas Series, a numpy array or sequence, a candles table or dict of columns
with a ``close`` column, or the tables of ``generate_frames``/``generate_arrays``) it takes the
log returns r_t = ln(close_t / close_{t-1}) and measures:

- ``excess_kurtosis``, ``skew``: moment ratios with population (1/n) moments;
- ``acf_r_1``: autocorrelation of r at lag 1;
- ``acf_abs_r_K`` (K = 1, 5, 10, 20, 50, 100): autocorrelation of |r| at lag K;
- ``acf_abs_r_decay``: beta of the power law acf(|r|, k) ~ k^-beta, the least-squares slope
  of ln acf against ln k over the lags 1 to 100 whose acf is positive (negated);
- ``hill_5``, ``hill_2.5``, ``hill_1``: the Hill tail index of |r| from its top 5, 2.5 and 1 %;
- ``leverage_K`` (K = 1..10): corr(r_t, |r_{t+K}|), negative when falls raise later volatility;
- ``agg_kurtosis_M`` (M = 1, 5, 20): excess kurtosis of non-overlapping M-bar returns;
- ``gain_bars``, ``loss_bars``: mean bars from a close to the first close 5 % above it,
  or 5 % below it (starts whose move never comes within the series are left out).

An acf is the sample autocorrelation sum_t (x_t - m)(x_{t+k} - m) / sum_t (x_t - m)^2 with m
the mean of the whole series. A metric the series is too short for is NaN.

``scorecard`` returns one row per metric, ``compare`` puts a real series beside many runs
(mean, std, 5 % and 95 % quantiles per metric), and ``spec_closes`` / ``score_spec`` run a
spec over seeds keeping only the closes of one run at a time. Tables are pandas DataFrames
indexed by metric when pandas is installed, else dicts keyed by metric.
"""

from __future__ import annotations

import bisect
import csv
import math
import os
from collections.abc import Iterable, Iterator, Mapping, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any

from ._optional import require
from ._spec_text import Spec, as_text, exact_value, is_text, with_seed
from .batches import batch_size, iter_raw, open_run

try:
    import numpy as np
except ImportError:
    raise ImportError('quarno_synth.facts needs numpy: pip install "quarno_synth[numpy]"') from None

ACF_LAGS = (1, 5, 10, 20, 50, 100)
DECAY_LAGS = 100
HILL_TAILS = (5.0, 2.5, 1.0)
LEVERAGE_LAGS = tuple(range(1, 11))
AGGREGATIONS = (1, 5, 20)
MOVE = 0.05

METRICS = (
    "excess_kurtosis",
    "skew",
    "acf_r_1",
    *(f"acf_abs_r_{k}" for k in ACF_LAGS),
    "acf_abs_r_decay",
    *(f"hill_{p:g}" for p in HILL_TAILS),
    *(f"leverage_{k}" for k in LEVERAGE_LAGS),
    *(f"agg_kurtosis_{m}" for m in AGGREGATIONS),
    "gain_bars",
    "loss_bars",
)

SPREAD = ("mean", "std", "p05", "p95")

# Standardised returns are counted into these bins for the distribution chart.
HIST_EDGES = np.linspace(-10.0, 10.0, 161)


# --- closes ------------------------------------------------------------------------------------


def _close_column(table: Any) -> Any:
    if isinstance(table, Mapping):  # e.g. the candles of generate_arrays
        names = list(table)
    else:
        names = list(getattr(table, "column_names", None) or getattr(table, "columns", []))
    for name in names:
        if isinstance(name, str) and name.strip().lower() == "close":
            return table[name]
    raise ValueError(f"no close column (columns: {', '.join(map(str, names)) or 'none'})")


def closes_array(data: Any) -> np.ndarray:
    """The closes of ``data`` as a float64 array; ValueError when they cannot be scored."""
    if isinstance(data, Mapping) and "candles" in data:
        data = data["candles"]
    if isinstance(data, Mapping) or hasattr(data, "columns") or hasattr(data, "column_names"):
        data = _close_column(data)
    if hasattr(data, "to_numpy") and not isinstance(data, np.ndarray):
        try:
            data = data.to_numpy(zero_copy_only=False)  # pyarrow
        except TypeError:
            data = data.to_numpy()
    try:
        closes = np.asarray(data, dtype=np.float64)
    except (TypeError, ValueError):
        raise ValueError("closes must be numbers (a Series, an array or a close column)") from None
    if closes.ndim != 1:
        raise ValueError(f"closes must be one-dimensional, not of shape {closes.shape}")
    if len(closes) < 3:
        raise ValueError(f"closes: at least 3 are needed, got {len(closes)}")
    bad = ~(np.isfinite(closes) & (closes > 0))
    if bad.any():
        row = int(np.argmax(bad))
        value = float(closes[row])
        raise ValueError(f"closes must be positive and finite: row {row} is {value!r}")
    return closes


def read_closes(path: str | os.PathLike[str]) -> np.ndarray:
    """The ``close`` column (name matched case-insensitively) of a CSV or Parquet file (by
    its suffix: .parquet or .pq, else CSV); ValueError or OSError with a one-line reason."""
    path = Path(path)
    if path.suffix.lower() in (".parquet", ".pq"):
        pq = require("pyarrow.parquet", "arrow", "reading Parquet closes")
        try:
            table = pq.read_table(path)
        except OSError:
            raise
        except Exception as exc:  # pyarrow's own errors for a file that is not Parquet
            raise ValueError(f"'{path}' is not a readable Parquet file: {exc}") from None
        try:
            return closes_array(_close_column(table))
        except ValueError as exc:
            raise ValueError(f"'{path}': {exc}") from None
    return _csv_closes(path)


def _csv_closes(path: Path) -> np.ndarray:
    with open(path, newline="", encoding="utf-8-sig") as f:
        try:
            rows = csv.reader(f)
            header = next(rows, None)
            if header is None:
                raise ValueError(f"'{path}' is empty")
            names = [name.strip().lower() for name in header]
            if "close" not in names:
                raise ValueError(f"'{path}': no close column (columns: {', '.join(header)})")
            column = names.index("close")
            values = []
            for row in rows:
                if not row:
                    continue
                line = rows.line_num
                try:
                    value = float(row[column])
                except (ValueError, IndexError):
                    cell = repr(row[column]) if column < len(row) else "missing"
                    raise ValueError(
                        f"'{path}' line {line}: close is not a number ({cell})"
                    ) from None
                if not (math.isfinite(value) and value > 0):
                    raise ValueError(
                        f"'{path}' line {line}: close must be positive and finite ({value!r})"
                    )
                values.append(value)
        except UnicodeDecodeError as exc:
            raise ValueError(f"'{path}' is not UTF-8 text (offset {exc.start})") from None
        except csv.Error as exc:
            raise ValueError(f"'{path}' line {rows.line_num}: {exc}") from None
    try:
        return closes_array(np.array(values, dtype=np.float64))
    except ValueError as exc:
        raise ValueError(f"'{path}': {exc}") from None


def log_returns(data: Any) -> np.ndarray:
    """ln(close_t / close_{t-1}) of the closes of ``data``."""
    return np.diff(np.log(closes_array(data)))


# --- the metrics -------------------------------------------------------------------------------


def _dot(a: np.ndarray, b: np.ndarray) -> float:
    # not np.dot: BLAS threads cost more than they save on a busy machine
    return float(np.einsum("i,i->", a, b))


def _moments(r: np.ndarray) -> tuple[float, float]:
    """(excess kurtosis, skew), NaN when there is no spread."""
    if len(r) < 2:
        return math.nan, math.nan
    d = r - r.mean()
    m2 = float(np.mean(d * d))
    if not m2 > 0:
        return math.nan, math.nan
    return float(np.mean(d**4)) / (m2 * m2) - 3.0, float(np.mean(d**3)) / m2**1.5


def acf(x: np.ndarray, lags: int) -> np.ndarray:
    """Autocorrelation of ``x`` at lags 1..``lags`` (NaN beyond the series)."""
    out = np.full(lags, np.nan)
    d = x - x.mean()
    denom = _dot(d, d)
    if not denom > 0:
        return out
    for k in range(1, min(lags, len(x) - 1) + 1):
        out[k - 1] = _dot(d[:-k], d[k:]) / denom
    return out


def decay_exponent(acf_values: np.ndarray) -> float:
    """beta of acf(k) ~ k^-beta: minus the least-squares slope of ln acf on ln k over the lags
    (1, 2, ...) where the acf is positive; NaN with fewer than 3 such lags."""
    lags = np.arange(1, len(acf_values) + 1, dtype=np.float64)
    keep = np.isfinite(acf_values) & (acf_values > 0)
    if np.count_nonzero(keep) < 3:
        return math.nan
    x, y = np.log(lags[keep]), np.log(acf_values[keep])
    x = x - x.mean()
    return -float(_dot(x, y - y.mean()) / _dot(x, x))


def hill(x: np.ndarray, percent: float) -> float:
    """Hill index of the top ``percent`` % of ``x`` (k = floor(n * percent / 100) values):
    1 / mean(ln x_(i) - ln x_(k+1)), i = 1..k, x_(1) the largest; NaN when k < 2 or the
    threshold x_(k+1) is not positive."""
    k = int(len(x) * percent / 100.0)
    if k < 2 or k >= len(x):
        return math.nan
    top = -np.sort(-x)[: k + 1]
    if not top[k] > 0:
        return math.nan
    mean_excess = float(np.mean(np.log(top[:k]) - math.log(top[k])))
    return 1.0 / mean_excess if mean_excess > 0 else math.nan


def _corr(a: np.ndarray, b: np.ndarray) -> float:
    if len(a) < 3:
        return math.nan
    da, db = a - a.mean(), b - b.mean()
    denom = math.sqrt(_dot(da, da) * _dot(db, db))
    return _dot(da, db) / denom if denom > 0 else math.nan


def leverage(r: np.ndarray, lags: int) -> np.ndarray:
    """corr(r_t, |r_{t+k}|) for k = 1..``lags``, over the pairs inside the series."""
    a = np.abs(r)
    return np.array([_corr(r[:-k], a[k:]) if k < len(r) else math.nan for k in range(1, lags + 1)])


def aggregated_kurtosis(r: np.ndarray, bars: int) -> float:
    """Excess kurtosis of the sums of consecutive non-overlapping blocks of ``bars`` returns
    (the incomplete last block dropped); NaN with fewer than 8 blocks."""
    blocks = len(r) // bars
    if blocks < 8:
        return math.nan
    return _moments(r[: blocks * bars].reshape(blocks, bars).sum(axis=1))[0]


def first_passage(level: np.ndarray, rise: float) -> np.ndarray:
    """For each t, bars until the first later point with level >= level[t] + rise (-1: never).

    Walks from the end keeping the running maxima seen from t + 1 on (a stack, nearest on top),
    so the first point above the threshold is found by bisection: O(n log n).
    """
    n = len(level)
    out = np.full(n, -1, dtype=np.int64)
    negated: list[float] = []  # -level of the stack, ascending from bottom to top
    indices: list[int] = []
    values = level.tolist()
    for t in range(n - 1, -1, -1):
        value = values[t]
        count = bisect.bisect_right(negated, -(value + rise))
        if count:
            out[t] = indices[count - 1] - t
        while negated and -negated[-1] <= value:
            negated.pop()
            indices.pop()
        negated.append(-value)
        indices.append(t)
    return out


def gain_loss_bars(closes: np.ndarray, move: float = MOVE) -> tuple[float, float]:
    """Mean bars from each close to the first close at least ``move`` above it (gain) and to
    the first at most ``move`` below it (loss), over the starts where that close exists."""
    level = np.log(closes)
    means = []
    for sign, threshold in ((1.0, math.log(1.0 + move)), (-1.0, -math.log(1.0 - move))):
        bars = first_passage(sign * level, threshold)
        reached = bars[bars > 0]
        means.append(float(reached.mean()) if len(reached) else math.nan)
    return means[0], means[1]


@dataclass
class Score:
    """One series' metrics, and the curves and histogram its charts draw."""

    metrics: dict[str, float]
    acf_abs: np.ndarray  # lags 1..100
    leverage: np.ndarray  # lags 1..10
    histogram: np.ndarray  # counts of standardised returns over HIST_EDGES


def score(data: Any) -> Score:
    """The scorecard of ``data`` with its curves."""
    closes = closes_array(data)
    r = np.diff(np.log(closes))
    a = np.abs(r)
    metrics: dict[str, float] = {}
    metrics["excess_kurtosis"], metrics["skew"] = _moments(r)
    metrics["acf_r_1"] = float(acf(r, 1)[0])
    acf_abs = acf(a, DECAY_LAGS)
    for k in ACF_LAGS:
        metrics[f"acf_abs_r_{k}"] = float(acf_abs[k - 1])
    metrics["acf_abs_r_decay"] = decay_exponent(acf_abs)
    for p in HILL_TAILS:
        metrics[f"hill_{p:g}"] = hill(a, p)
    lev = leverage(r, len(LEVERAGE_LAGS))
    for k in LEVERAGE_LAGS:
        metrics[f"leverage_{k}"] = float(lev[k - 1])
    for m in AGGREGATIONS:
        metrics[f"agg_kurtosis_{m}"] = aggregated_kurtosis(r, m)
    metrics["gain_bars"], metrics["loss_bars"] = gain_loss_bars(closes)
    spread = float(r.std())
    z = (r - r.mean()) / spread if spread > 0 else np.zeros_like(r)
    histogram = np.histogram(z, HIST_EDGES)[0]  # beyond 10 std: not drawn
    return Score(metrics, acf_abs, lev, histogram)


# --- tables ------------------------------------------------------------------------------------


def _pandas() -> Any:
    try:
        import pandas
    except ImportError:
        return None
    return pandas


def _table(columns: dict[str, list[float]]) -> Any:
    """A DataFrame indexed by metric when pandas is there, else {metric: {column: value}}
    (or {metric: value} for a single "value" column)."""
    pd = _pandas()
    if pd is not None:
        frame = pd.DataFrame(columns, index=pd.Index(METRICS, name="metric"))
        return frame
    if list(columns) == ["value"]:
        return dict(zip(METRICS, columns["value"]))
    return {m: {name: values[i] for name, values in columns.items()} for i, m in enumerate(METRICS)}


def scorecard(data: Any) -> Any:
    """The stylized facts of the closes in ``data``, one row per metric (column "value")."""
    metrics = score(data).metrics
    return _table({"value": [metrics[m] for m in METRICS]})


def _as_score(run: Any) -> Score:
    return run if isinstance(run, Score) else score(run)


def spread(scores: Sequence[Score]) -> dict[str, list[float]]:
    """Mean, std (n - 1 when n > 1) and 5 % / 95 % quantiles of each metric over ``scores``,
    ignoring the runs where a metric is NaN."""
    values = np.array([[s.metrics[m] for m in METRICS] for s in scores], dtype=np.float64)
    columns: dict[str, list[float]] = {name: [] for name in SPREAD}
    for column in values.T:
        finite = column[np.isfinite(column)]
        if not len(finite):
            for name in SPREAD:
                columns[name].append(math.nan)
            continue
        columns["mean"].append(float(finite.mean()))
        columns["std"].append(float(finite.std(ddof=1)) if len(finite) > 1 else 0.0)
        columns["p05"].append(float(np.quantile(finite, 0.05)))
        columns["p95"].append(float(np.quantile(finite, 0.95)))
    return columns


def compare(real: Any, synthetic_runs: Iterable[Any]) -> Any:
    """The real series' metrics (column "real", left out when ``real`` is None) beside the
    mean, std, p05 and p95 of each metric over ``synthetic_runs`` (closes of each run, or the
    ``Score`` of each, e.g. from ``score_spec``). Runs are scored one at a time."""
    scores = [_as_score(run) for run in synthetic_runs]
    if not scores:
        raise ValueError("synthetic_runs is empty: give at least one run")
    columns = spread(scores)
    if real is not None:
        metrics = _as_score(real).metrics
        columns = {"real": [metrics[m] for m in METRICS], **columns}
    return _table(columns)


# --- runs of a spec ----------------------------------------------------------------------------


def _spec_value(spec: Spec) -> Any:
    """The spec as a value to put seeds into; the reader's error when it is rejected."""
    if is_text(spec):
        text = as_text(spec)
        open_run(text)  # the reader's own error, with its position
        return exact_value(text)
    open_run(spec)
    return spec


def spec_closes(spec: Spec, seeds: Iterable[int] | str) -> Iterator[np.ndarray]:
    """The closes of ``spec`` run with each seed (a spec's seed replaced), one run at a time;
    each run is made batch by batch and only its closes are kept. ``seeds`` is an iterable of
    ints or a text such as "0:20"."""
    from .sweep import parse_seeds

    if isinstance(seeds, str):
        seeds = parse_seeds(seeds)
    value = _spec_value(spec)
    for seed in seeds:
        run = open_run(with_seed(value, int(seed)))
        closes = np.empty(run.bars, dtype=np.float64)
        size = batch_size(run, None)
        for raw in iter_raw(np, run, size):
            closes[raw.first_bar : raw.first_bar + raw.bars] = raw.arrays["close"]
        yield closes


def score_spec(spec: Spec, seeds: Iterable[int] | str = range(20)) -> list[Score]:
    """The ``Score`` of ``spec`` run with each seed (for ``compare``)."""
    return [score(closes) for closes in spec_closes(spec, seeds)]
