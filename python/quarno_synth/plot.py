"""Chart of a run: candlesticks, volume, funding rate and the regime schedule (matplotlib).

A chart shows at most ``MAX_CANDLES`` candles. A longer run is drawn with ``k`` bars merged
into each candle, ``k = ceil(bars / MAX_CANDLES)``, counted from the run's first bar: a merged
candle opens at its first bar's open, closes at its last bar's close, spans the highest high
and the lowest low of its bars and holds the sum of their volumes; its time is its first
bar's. Funding points are averaged per merged candle. ``plot_run`` makes the run batch by
batch and keeps only the merged candles, so its memory stays bounded whatever ``bars`` is.
"""

from __future__ import annotations

import math
import os
from dataclasses import dataclass
from typing import Any

from ._optional import require
from ._spec_text import Spec
from .batches import batch_size, iter_raw, open_run
from .columns import Result, split_records
from .schedule import RegimeSpan, regime_spans

__all__ = ["MAX_CANDLES", "plot", "plot_run"]

# Candles a chart shows at most: about two pixels per candle on a 12-inch figure.
MAX_CANDLES = 600

_UP = "#26a69a"
_DOWN = "#ef5350"
_KIND_COLOURS = {"trend": "#1f77b4", "range": "#9467bd", "crash": "#d62728", "vol": "#ff7f0e"}
_KIND_ORDER = ("trend", "range", "crash", "vol")

# Dates the date axis can show (years 1 to 9999); other runs are drawn against bar numbers.
_FIRST_DATE_SECS = -62135596800
_LAST_DATE_SECS = 253402300799


@dataclass
class _Candles:
    """The candles a chart draws: each the merge of ``per_candle`` consecutive bars."""

    bars: int
    per_candle: int
    ts: Any
    open: Any
    high: Any
    low: Any
    close: Any
    volume: Any
    funding_sum: Any  # per candle: the sum and number of its funding points
    funding_count: Any


def _merging(np: Any, bars: int) -> _Candles:
    per = max(1, math.ceil(bars / MAX_CANDLES))
    n = math.ceil(bars / per)

    def empty() -> Any:
        return np.full(n, np.nan)

    return _Candles(
        bars,
        per,
        np.zeros(n, dtype="int64"),
        empty(),
        empty(),
        empty(),
        empty(),
        np.zeros(n),
        np.zeros(n),
        np.zeros(n, dtype="int64"),
    )


def _merge(np: Any, into: _Candles, first_bar: int, cols: dict[str, Any]) -> None:
    """Fold consecutive bars (starting at bar ``first_bar``) into the candles ``into``."""
    ts = cols["ts"]
    if len(ts) == 0:
        return
    group = (first_bar + np.arange(len(ts))) // into.per_candle
    starts = np.concatenate(([0], np.flatnonzero(np.diff(group)) + 1))
    ends = np.append(starts[1:], len(ts))
    at = group[starts]
    opening = (first_bar + starts) % into.per_candle == 0  # the candle's first bar is here
    into.ts[at[opening]] = ts[starts[opening]]
    into.open[at[opening]] = cols["open"][starts[opening]]
    into.close[at] = cols["close"][ends - 1]
    # fmax/fmin skip NaN (null in the document: a price that left the finite range)
    into.high[at] = np.fmax(into.high[at], np.fmax.reduceat(cols["high"], starts))
    into.low[at] = np.fmin(into.low[at], np.fmin.reduceat(cols["low"], starts))
    into.volume[at] += np.add.reduceat(cols["volume"], starts)
    funding_ts = cols["funding_ts"]
    if len(funding_ts):
        # a funding point carries the time of its bar
        funding_group = (first_bar + np.searchsorted(ts, funding_ts)) // into.per_candle
        np.add.at(into.funding_sum, funding_group, cols["funding_rate"])
        np.add.at(into.funding_count, funding_group, 1)


def _document_candles(np: Any, result: Result) -> _Candles:
    candles, _, _, funding = split_records(result)
    cols = {
        name: np.array([c[name] for c in candles], dtype="float64")
        for name in ("open", "high", "low", "close", "volume")
    }
    cols["ts"] = np.array([c["ts"] for c in candles], dtype="int64")
    cols["funding_ts"] = np.array([f["ts"] for f in funding], dtype="int64")
    cols["funding_rate"] = np.array([f["rate"] for f in funding], dtype="float64")
    merged = _merging(np, len(candles))
    _merge(np, merged, 0, cols)
    return merged


def _run_candles(np: Any, spec: Spec, batch_bars: int | None) -> _Candles:
    run = open_run(spec)
    merged = _merging(np, run.bars)
    for raw in iter_raw(np, run, batch_size(run, batch_bars)):
        _merge(np, merged, raw.first_bar, raw.arrays)
    return merged


def _x_positions(np: Any, mdates: Any, ts: Any) -> tuple[Any, bool]:
    if len(ts) and _FIRST_DATE_SECS <= ts.min() and ts.max() <= _LAST_DATE_SECS:
        return mdates.date2num(ts.astype("datetime64[s]")), True
    return np.arange(len(ts), dtype="float64"), False


def _boxes(np: Any, x: Any, width: float, bottom: Any, top: Any) -> Any:
    """Rectangles as polygons (one collection draws thousands of bars quickly)."""
    left, right = x - width / 2, x + width / 2
    return np.stack(
        [
            np.column_stack(corner)
            for corner in ((left, bottom), (left, top), (right, top), (right, bottom))
        ],
        axis=1,
    )


def _mark_regimes(axes: list[Any], x: Any, width: float, spans: list[RegimeSpan]) -> None:
    n = len(x)
    for i, span in enumerate(spans):
        if span.start >= n or span.stop <= span.start:
            continue
        lo = x[span.start] - width / 2
        hi = x[min(span.stop, n) - 1] + width / 2
        colour = _KIND_COLOURS.get(span.kind, "#7f7f7f")
        for ax in axes:
            ax.axvspan(lo, hi, color=colour, alpha=0.10, linewidth=0)
            if i > 0:
                ax.axvline(lo, color="#555555", linestyle="--", linewidth=0.8)


def _in_candles(spans: list[RegimeSpan], per: int) -> list[RegimeSpan]:
    """Regime spans in candle numbers: a candle holding a regime's bar belongs to it."""
    return [RegimeSpan(s.kind, s.start // per, -(-s.stop // per)) for s in spans]


def _draw(merged: _Candles, spec: Any, title: str | None) -> Any:
    np = require("numpy", "plot", "plotting")
    mdates = require("matplotlib.dates", "plot", "plotting")
    mfigure = require("matplotlib.figure", "plot", "plotting")
    mcollections = require("matplotlib.collections", "plot", "plotting")
    mpatches = require("matplotlib.patches", "plot", "plotting")
    mlines = require("matplotlib.lines", "plot", "plotting")

    x, dated = _x_positions(np, mdates, merged.ts)
    has_funding = bool(merged.funding_count.any())
    open_, high, low, close, volume = (
        merged.open,
        merged.high,
        merged.low,
        merged.close,
        merged.volume,
    )
    step = float(np.min(np.diff(x))) if len(x) > 1 else 1.0
    width = step * 0.7
    colours = np.where(close >= open_, _UP, _DOWN)

    panels = 3 if has_funding else 2
    fig = mfigure.Figure(figsize=(12, 7.5 if has_funding else 6.5), dpi=110, layout="constrained")
    axes = fig.subplots(panels, 1, sharex=True, height_ratios=[4, 1.3, 1.3][:panels])
    price_ax, volume_ax = axes[0], axes[1]

    price_ax.vlines(x, low, high, colors=colours, linewidth=0.7)
    body_bottom = np.minimum(open_, close)
    body_top = np.maximum(np.maximum(open_, close), body_bottom + (high - low) * 0.002)
    price_ax.add_collection(
        mcollections.PolyCollection(
            _boxes(np, x, width, body_bottom, body_top),
            facecolors=colours,
            edgecolors=colours,
            linewidths=0.3,
        )
    )
    price_ax.autoscale_view()
    price_ax.set_ylabel("price")
    price_ax.grid(True, linewidth=0.3, alpha=0.5)

    volume_ax.add_collection(
        mcollections.PolyCollection(
            _boxes(np, x, width, np.zeros_like(volume), volume),
            facecolors=colours,
            edgecolors=colours,
            linewidths=0.3,  # at least a pixel wide, so dense runs show no moire
        )
    )
    volume_ax.autoscale_view()
    volume_ax.set_ylim(bottom=0)
    volume_ax.set_ylabel("volume" if merged.per_candle == 1 else "volume (summed)")
    volume_ax.grid(True, linewidth=0.3, alpha=0.5)

    if has_funding:
        funding_ax = axes[2]
        points = merged.funding_count > 0
        fx = x[points]
        rate = merged.funding_sum[points] / merged.funding_count[points]
        funding_ax.axhline(0.0, color="#888888", linewidth=0.6)
        funding_ax.step(fx, rate, where="post", color="#444444", linewidth=0.9)
        if len(fx) <= 200:
            funding_ax.plot(fx, rate, "o", color="#444444", markersize=2.5)
        label = "funding rate" if merged.per_candle == 1 else "funding rate (mean)"
        funding_ax.set_ylabel(label)
        funding_ax.grid(True, linewidth=0.3, alpha=0.5)

    spans = regime_spans(spec) if spec is not None else []
    _mark_regimes(list(axes), x, width, _in_candles(spans, merged.per_candle))
    if spans:
        present = {span.kind for span in spans}
        handles = [
            mpatches.Patch(color=_KIND_COLOURS[kind], alpha=0.35, label=kind)
            for kind in _KIND_ORDER
            if kind in present
        ]
        if len(spans) > 1:
            handles.append(
                mlines.Line2D([], [], color="#555555", linestyle="--", label="regime change")
            )
        price_ax.legend(
            handles=handles, title="regime", loc="upper left", fontsize=8, title_fontsize=8
        )

    if len(x):
        axes[-1].set_xlim(x[0] - step, x[-1] + step)
    if dated:
        locator = mdates.AutoDateLocator()
        axes[-1].xaxis.set_major_locator(locator)
        axes[-1].xaxis.set_major_formatter(mdates.ConciseDateFormatter(locator))
    else:
        axes[-1].set_xlabel("bar" if merged.per_candle == 1 else "candle")
    if title is None:
        title = f"{merged.bars} bars"
        if merged.per_candle > 1:
            title = f"{merged.bars:,} bars, {merged.per_candle:,} per candle"
    price_ax.set_title(title)
    return fig


def plot(
    result: Result,
    spec: Any = None,
    path: str | os.PathLike[str] | None = None,
    *,
    title: str | None = None,
) -> Any:
    """Draw a generated document and return the matplotlib Figure.

    Parameters
    ----------
    result
        The grouped or stream document of a run (parsed, or its JSON text).
    spec
        The run's spec (dict, array form or JSON text), for the regime schedule: each regime
        is shaded by its kind, boundaries are dashed lines and the legend names the kinds.
    path
        Where to save the figure (its suffix names the image type), when given.
    title
        The chart's title; by default the number of bars.

    Returns
    -------
    matplotlib.figure.Figure
        At most ``MAX_CANDLES`` candles; longer runs merge consecutive bars.
    """
    np = require("numpy", "plot", "plotting")
    fig = _draw(_document_candles(np, result), spec, title)
    if path is not None:
        fig.savefig(os.fspath(path))
    return fig


def plot_run(
    spec: Spec,
    path: str | os.PathLike[str] | None = None,
    *,
    title: str | None = None,
    batch_bars: int | None = None,
) -> Any:
    """Make the run of ``spec`` batch by batch and draw it; return the matplotlib Figure.

    The same chart as ``plot(generate(spec), spec)``, made without the JSON document and in
    bounded memory (batches of ``batch_bars`` bars, by default about 64 MB of columns).

    Parameters
    ----------
    spec
        A spec: dict, array form or JSON text.
    path
        Where to save the figure, when given.
    title
        The chart's title; by default the number of bars.
    batch_bars
        Bars per batch.

    Raises
    ------
    SynthError
        The spec is rejected, or the run fails.
    """
    np = require("numpy", "plot", "plotting")
    require("matplotlib.figure", "plot", "plotting")  # before the run is made
    fig = _draw(_run_candles(np, spec, batch_bars), spec, title)
    if path is not None:
        fig.savefig(os.fspath(path))
    return fig
