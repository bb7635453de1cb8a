"""Chart of a run: candlesticks, volume, funding rate and the regime schedule (matplotlib)."""

from __future__ import annotations

import os
from typing import Any

from ._optional import require
from .columns import Result, split_records
from .schedule import RegimeSpan, regime_spans

_UP = "#26a69a"
_DOWN = "#ef5350"
_KIND_COLOURS = {"trend": "#1f77b4", "range": "#9467bd", "crash": "#d62728", "vol": "#ff7f0e"}
_KIND_ORDER = ("trend", "range", "crash", "vol")

# Dates the date axis can show (years 1 to 9999); other runs are drawn against bar numbers.
_FIRST_DATE_SECS = -62135596800
_LAST_DATE_SECS = 253402300799


def _x_positions(np: Any, mdates: Any, ts: list[int]) -> tuple[Any, bool]:
    if ts and _FIRST_DATE_SECS <= min(ts) and max(ts) <= _LAST_DATE_SECS:
        return mdates.date2num(np.array(ts, dtype="int64").astype("datetime64[s]")), True
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


def plot(
    result: Result,
    spec: Any = None,
    path: str | os.PathLike[str] | None = None,
    *,
    title: str | None = None,
) -> Any:
    """Draw a run and return the matplotlib Figure; save it to ``path`` when given.

    ``spec`` (dict, array form or JSON text) supplies the regime schedule: each regime is
    shaded by its kind, boundaries are dashed lines and the legend names the kinds.
    """
    np = require("numpy", "plot", "plotting")
    mdates = require("matplotlib.dates", "plot", "plotting")
    mfigure = require("matplotlib.figure", "plot", "plotting")
    mcollections = require("matplotlib.collections", "plot", "plotting")
    mpatches = require("matplotlib.patches", "plot", "plotting")
    mlines = require("matplotlib.lines", "plot", "plotting")

    candles, _, _, funding = split_records(result)
    ts = [c["ts"] for c in candles]
    x, dated = _x_positions(np, mdates, ts)
    ohlcv = np.array(
        [[c["open"], c["high"], c["low"], c["close"], c["volume"]] for c in candles],
        dtype="float64",
    ).reshape(-1, 5)
    open_, high, low, close, volume = ohlcv.T
    step = float(np.min(np.diff(x))) if len(x) > 1 else 1.0
    width = step * 0.7
    colours = np.where(close >= open_, _UP, _DOWN)

    panels = 3 if funding else 2
    fig = mfigure.Figure(figsize=(12, 7.5 if funding else 6.5), dpi=110, layout="constrained")
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
    volume_ax.set_ylabel("volume")
    volume_ax.grid(True, linewidth=0.3, alpha=0.5)

    if funding:
        funding_ax = axes[2]
        if dated:
            fx, _ = _x_positions(np, mdates, [f["ts"] for f in funding])
        else:
            bar_of = {t: i for i, t in enumerate(ts)}
            fx = np.array([bar_of[f["ts"]] for f in funding], dtype="float64")
        rate = np.array([f["rate"] for f in funding], dtype="float64")
        funding_ax.axhline(0.0, color="#888888", linewidth=0.6)
        funding_ax.step(fx, rate, where="post", color="#444444", linewidth=0.9)
        if len(fx) <= 200:
            funding_ax.plot(fx, rate, "o", color="#444444", markersize=2.5)
        funding_ax.set_ylabel("funding rate")
        funding_ax.grid(True, linewidth=0.3, alpha=0.5)

    spans = regime_spans(spec) if spec is not None else []
    _mark_regimes(list(axes), x, width, spans)
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
        axes[-1].set_xlabel("bar")
    price_ax.set_title(title or f"{len(candles)} bars")
    if path is not None:
        fig.savefig(os.fspath(path))
    return fig
