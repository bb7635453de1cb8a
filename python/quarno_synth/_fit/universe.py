"""Fitting a universe to the closes of many instruments.

Loadings by principal axis factoring of the correlation matrix C of the assets' log returns,
on the rows where every asset has a price: start with communalities h = 1 (principal
components); then repeatedly put h on the diagonal of C, take the K largest eigenvalues w_k
and their eigenvectors v_k (numpy's ``eigh``), set asset i's loading on factor k to
v_k[i] sqrt(w_k) and h_i to its sum of squares (at most MAX_SQUARES), until h moves by less
than PAF_TOLERANCE (at most PAF_ITERATIONS times). So L L^T matches C off the diagonal, where
plain principal components would overstate the correlations. Each factor's sign makes its
loadings sum to >= 0 (the first factor is then the market); a row whose sum of squares passes
MAX_SQUARES is scaled down to it, so every asset keeps an own part. Each asset's own spec is
``fit`` of its column on those rows, so all share the bar clock.
"""

from __future__ import annotations

import re
from typing import Any

import numpy as np

from .data import DataError
from .model import FitReport, _sig, fit

MAX_SQUARES = 0.999
PAF_ITERATIONS = 100
PAF_TOLERANCE = 1e-6
_NOT_IN_SYMBOL = re.compile(r"[^A-Za-z0-9_.-]")


def _symbol(name: Any) -> str:
    """A column name as a universe symbol: other characters become "_", at most 64."""
    text = _NOT_IN_SYMBOL.sub("_", str(name).strip())[:64].lstrip(".")
    if not text:
        raise DataError(f"column {name!r} gives no usable symbol")
    return text


def factor_loadings(returns: np.ndarray, factors: int) -> list[list[float]]:
    """Loadings (one row per asset, one column per factor) by principal axis factoring."""
    corr = np.corrcoef(returns, rowvar=False)
    communality = np.ones(len(corr))
    for _ in range(PAF_ITERATIONS):
        reduced = corr.copy()
        np.fill_diagonal(reduced, communality)
        w, v = np.linalg.eigh(reduced)
        order = np.argsort(w, kind="stable")[::-1][:factors]
        loadings = v[:, order] * np.sqrt(np.maximum(w[order], 0.0))
        updated = np.minimum((loadings * loadings).sum(axis=1), MAX_SQUARES)
        done = float(np.abs(updated - communality).max()) < PAF_TOLERANCE
        communality = updated
        if done:
            break
    loadings = loadings * np.where(loadings.sum(axis=0) < 0.0, -1.0, 1.0)
    rows = []
    for row in loadings:
        squares = float(row @ row)
        if squares > MAX_SQUARES:
            row = row * np.sqrt(MAX_SQUARES / squares)
        rows.append([_sig(float(x)) for x in row])
    return rows


def fit_universe(
    closes_wide: Any,
    *,
    factors: int = 1,
    dynamics: bool = True,
    seed: int = 0,
    factor_seed: int = 0,
) -> tuple[dict[str, Any], dict[str, FitReport]]:
    """Fit a universe document to ``closes_wide``: one column of closes per asset.

    Parameters
    ----------
    closes_wide
        A pandas DataFrame (a DatetimeIndex gives the bar times) or a polars frame, one
        column per asset; only rows where every asset has a price are used.
    factors
        The number of shared factors, from 1 to the number of assets.
    dynamics
        As for ``fit``, per asset.
    seed
        Asset i's spec takes seed ``seed + i``.
    factor_seed
        The universe's factor seed.

    Returns
    -------
    tuple of (dict, dict of str to FitReport)
        The universe document (for ``load_universe``) and each symbol's fit report.
    """
    if type(closes_wide).__module__.split(".")[0] == "polars":
        closes_wide = closes_wide.to_pandas()
    if not hasattr(closes_wide, "columns") or not hasattr(closes_wide, "dropna"):
        raise DataError("closes_wide must be a frame with one column of closes per asset")
    frame = closes_wide.dropna(how="any")
    assets = frame.shape[1]
    if assets < 2:
        raise DataError(f"a universe needs at least 2 assets, not {assets}")
    if isinstance(factors, bool) or not isinstance(factors, int) or not 1 <= factors <= assets:
        raise ValueError(
            f"factors must be from 1 to the number of assets ({assets}), not {factors!r}"
        )
    try:
        values = frame.to_numpy(dtype=np.float64)
    except (TypeError, ValueError):
        raise DataError("prices are not numeric") from None
    if not (np.isfinite(values) & (values > 0.0)).all():
        raise DataError("prices must be finite and > 0")
    loadings = factor_loadings(np.diff(np.log(values), axis=0), factors)
    entries: list[dict[str, Any]] = []
    reports: dict[str, FitReport] = {}
    for i, column in enumerate(frame.columns):
        symbol = _symbol(column)
        if symbol in reports:
            raise DataError(f"two columns give the symbol {symbol!r}")
        spec, reports[symbol] = fit(frame[column], dynamics=dynamics, seed=seed + i)
        entries.append({"symbol": symbol, "spec": spec, "loadings": loadings[i]})
    document = {
        "factor_seed": factor_seed,
        "factors": [f"pc{k + 1}" for k in range(factors)],
        "assets": entries,
    }
    return document, reports
