"""Facts across a universe's assets: how much they move together, and in stress.

- the realised correlation matrix of the assets' bar returns;
- the top eigenvalue share: the largest eigenvalue of that matrix over its trace (the
  share of variance the strongest common factor explains; 1/N when independent);
- the mean pairwise correlation on stress bars against calm bars, stress bars being the
  tenth of bars with the largest mean absolute return across the assets (or a mask given).
"""

from __future__ import annotations

from typing import Any

from .._optional import require

STRESS_SHARE = 0.1


def _mean_pairwise(np: Any, returns: Any) -> float:
    n = returns.shape[1]
    if n < 2 or returns.shape[0] < 3:
        return float("nan")
    c = np.corrcoef(returns, rowvar=False)
    return float((c.sum() - np.trace(c)) / (n * (n - 1)))


def correlation_facts(returns: Any, *, stress: Any = None) -> dict[str, Any]:
    """Cross-asset facts of a (bars, assets) array or DataFrame of returns (e.g.
    ``cross_section(u, "returns")``); ``stress`` is an optional boolean mask of stress bars.

    Returns {"correlation": (assets, assets) array, "top_eigenvalue_share": float,
    "mean_correlation": float, "stress_correlation": float, "calm_correlation": float,
    "stress_bars": int}.
    """
    np = require("numpy", "numpy", "correlation_facts")
    r = np.asarray(returns, dtype=float)
    if r.ndim != 2 or r.shape[1] < 2:
        raise ValueError("returns must be a (bars, assets) table with at least two assets")
    if stress is None:
        activity = np.abs(r).mean(axis=1)
        cut = np.quantile(activity, 1.0 - STRESS_SHARE)
        stress = activity >= cut
    stress = np.asarray(stress, dtype=bool)
    if stress.shape != (r.shape[0],):
        raise ValueError("stress must hold one flag per bar")
    c = np.corrcoef(r, rowvar=False)
    eigenvalues = np.linalg.eigvalsh(c)
    return {
        "correlation": c,
        "top_eigenvalue_share": float(eigenvalues[-1] / eigenvalues.sum()),
        "mean_correlation": _mean_pairwise(np, r),
        "stress_correlation": _mean_pairwise(np, r[stress]),
        "calm_correlation": _mean_pairwise(np, r[~stress]),
        "stress_bars": int(stress.sum()),
    }
