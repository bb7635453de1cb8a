"""Chart of a fit: the real closes with the fitted regimes shaded, a fan of synthetic paths,
and the scorecard of the real series beside the seeds (matplotlib)."""

from __future__ import annotations

import math
from typing import Any

from .._optional import require

TABLE_ROWS = (
    "annual_vol",
    "excess_kurtosis",
    "acf_abs_r_20",
    "leverage_1",
    "max_drawdown",
    "hill_2.5",
    "acf_r_1",
)


# States come calm first, turbulent last.
STATE_COLOURS = ("#2ca02c", "#1f77b4", "#ff7f0e", "#d62728")


def _shade(ax: Any, x: Any, timeline: Any) -> None:
    """One span per stretch of the same state; a stretch covers the bar it ends."""
    np = require("numpy", "numpy", "fit charts")
    edges = np.flatnonzero(np.diff(timeline)) + 1
    starts = np.concatenate(([0], edges))
    stops = np.concatenate((edges, [len(timeline)]))
    for a, b in zip(starts, stops):
        colour = STATE_COLOURS[int(timeline[a]) % len(STATE_COLOURS)]
        ax.axvspan(x[a], x[b], color=colour, alpha=0.2, linewidth=0)


def _positions(np: Any, report: Any, count: int) -> tuple[Any, bool]:
    """x of bar index 0..count-1: the real dates (continued by bar_secs past the data) when
    the series has timestamps, else the index itself."""
    if report.times is None:
        return np.arange(count, dtype=np.float64), False
    mdates = require("matplotlib.dates", "plot", "fit charts")
    times = np.asarray(report.times, dtype=np.int64)
    extra = np.arange(1, max(0, count - len(times)) + 1, dtype=np.int64)
    step = int(report.spec["bar_secs"])
    seconds = np.concatenate((times, times[-1] + extra * step))[:count]
    return mdates.date2num(seconds.astype("datetime64[s]")), True


def plot_fit(report: Any, *, seeds: int = 20, title: str | None = None) -> Any:
    """A figure of ``report`` (a FitReport): closes and regimes, the fan, the scorecard."""
    np = require("numpy", "numpy", "fit charts")
    mfigure = require("matplotlib.figure", "plot", "fit charts")
    from matplotlib.patches import Patch

    closes = np.asarray(report.closes)
    runs = report.synthetic_closes(seeds)
    table = report.scorecard(seeds)
    figure = mfigure.Figure(figsize=(12, 9), layout="constrained")
    grid = figure.add_gridspec(3, 1, height_ratios=(3, 3, 2))
    top = figure.add_subplot(grid[0])
    fan = figure.add_subplot(grid[1], sharex=top)
    length = min(len(r) for r in runs) if runs else 0
    positions, dated = _positions(np, report, max(len(closes), length + 1))
    x = positions[: len(closes)]
    top.plot(x, closes, color="black", linewidth=0.8)
    top.set_yscale("log")
    _shade(top, x, report.timeline)
    labels = [
        f"{i}: {s['kind']} drift {s['drift']:.3g} vol {s['vol']:.3g}"
        for i, s in enumerate(report.states)
    ]
    top.legend(
        handles=[
            Patch(color=STATE_COLOURS[i % len(STATE_COLOURS)], alpha=0.4, label=label)
            for i, label in enumerate(labels)
        ]
        + [Patch(color="black", label=report.column)],
        loc="upper left",
        fontsize=8,
    )
    top.set_title(title or "real closes and fitted regimes")
    if length:
        stack = np.vstack([r[:length] for r in runs])
        xs = positions[1 : length + 1]  # a run's close i ends the bar from the real close i
        for q_lo, q_hi, alpha in ((0.05, 0.95, 0.2), (0.25, 0.75, 0.35)):
            fan.fill_between(
                xs,
                np.quantile(stack, q_lo, axis=0),
                np.quantile(stack, q_hi, axis=0),
                color="#1f77b4",
                alpha=alpha,
                linewidth=0,
            )
        for r in stack[:3]:
            fan.plot(xs, r, linewidth=0.5, color="#1f77b4")
    fan.plot(x, closes, color="black", linewidth=0.8)
    fan.set_yscale("log")
    fan.set_title(f"{len(runs)} synthetic paths (5-95 % and 25-75 % bands) and the real closes")
    if dated:
        top.xaxis_date()
        fan.xaxis_date()
    else:
        fan.set_xlabel("bar")
    ax = figure.add_subplot(grid[2])
    ax.axis("off")
    rows = [m for m in TABLE_ROWS if m in table.index]
    cells = [
        [
            f"{table.loc[m, c]:.4g}" if not math.isnan(table.loc[m, c]) else "-"
            for c in ("real", "mean", "p05", "p95")
        ]
        for m in rows
    ]
    grid_table = ax.table(
        cellText=cells,
        rowLabels=rows,
        colLabels=["real", "seeds mean", "seeds 5 %", "seeds 95 %"],
        loc="center",
    )
    grid_table.scale(1.0, 1.2)
    return figure
