"""Charts of the stylized facts: return distribution against the normal, autocorrelation of
|r| on log axes, and the leverage curve; synthetic runs as a mean with a 5-95 % band,
a real series as a line beside them (matplotlib)."""

from __future__ import annotations

import math
import os
from collections.abc import Sequence
from typing import Any

from ._optional import require
from .facts import HIST_EDGES, Score

_SYNTH = "#1f77b4"
_REAL = "#d62728"


def _band(np: Any, ax: Any, x: Any, curves: Any, label: str) -> None:
    mean = np.nanmean(curves, axis=0)
    ax.plot(x, mean, color=_SYNTH, label=label)
    if len(curves) > 1:
        low, high = np.nanquantile(curves, [0.05, 0.95], axis=0)
        ax.fill_between(x, low, high, color=_SYNTH, alpha=0.2, linewidth=0)


def _distribution(np: Any, ax: Any, scores: Sequence[Score], real: Score | None) -> None:
    centres = (HIST_EDGES[:-1] + HIST_EDGES[1:]) / 2
    width = HIST_EDGES[1] - HIST_EDGES[0]
    series = [(np.sum([s.histogram for s in scores], axis=0), _SYNTH, "synthetic")]
    if real is not None:
        series.append((real.histogram, _REAL, "real"))
    for counts, colour, label in series:
        density = counts.astype(np.float64) / max(1, int(counts.sum())) / width
        shown = density > 0
        ax.plot(centres[shown], density[shown], ".", color=colour, markersize=3, label=label)
    normal = np.exp(-0.5 * centres * centres) / math.sqrt(2 * math.pi)
    ax.plot(centres, normal, color="#555555", linestyle="--", linewidth=1, label="normal")
    ax.set_yscale("log")
    ax.set_ylim(1e-5, 1.0)
    ax.set_xlabel("standardised return")
    ax.set_ylabel("density")
    ax.set_title("return distribution")


def _acf(np: Any, ax: Any, scores: Sequence[Score], real: Score | None) -> None:
    lags = np.arange(1, len(scores[0].acf_abs) + 1)
    curves = np.array([s.acf_abs for s in scores])
    curves = np.where(curves > 0, curves, np.nan)  # log axes show the positive part
    _band(np, ax, lags, curves, "synthetic")
    if real is not None:
        ax.plot(lags, np.where(real.acf_abs > 0, real.acf_abs, np.nan), color=_REAL, label="real")
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("lag (bars)")
    ax.set_ylabel("acf of |r|")
    ax.set_title("volatility clustering")


def _leverage(np: Any, ax: Any, scores: Sequence[Score], real: Score | None) -> None:
    lags = np.arange(1, len(scores[0].leverage) + 1)
    _band(np, ax, lags, np.array([s.leverage for s in scores]), "synthetic")
    if real is not None:
        ax.plot(lags, real.leverage, color=_REAL, marker="o", markersize=3, label="real")
    ax.axhline(0.0, color="#555555", linewidth=0.8)
    ax.set_xlabel("lag k (bars)")
    ax.set_ylabel("corr(r_t, |r_t+k|)")
    ax.set_title("leverage")


def plot_facts(
    scores: Sequence[Score],
    real: Score | None = None,
    path: str | os.PathLike[str] | None = None,
    *,
    title: str | None = None,
) -> Any:
    """A figure of three panels for the runs' ``Score``s (from ``facts.score_spec``) and an
    optional real series' ``Score``; saved to ``path`` when given. Returns the figure."""
    if not scores:
        raise ValueError("plot_facts needs at least one score")
    mfigure = require("matplotlib.figure", "plot", "plot_facts")
    np = require("numpy", "plot", "plot_facts")
    figure = mfigure.Figure(figsize=(14, 4.5), layout="constrained")
    axes = figure.subplots(1, 3)
    _distribution(np, axes[0], scores, real)
    _acf(np, axes[1], scores, real)
    _leverage(np, axes[2], scores, real)
    for ax in axes:
        ax.grid(True, which="major", alpha=0.3)
        ax.legend(fontsize=8)
    if title:
        figure.suptitle(title)
    if path is not None:
        figure.savefig(path)
    return figure
