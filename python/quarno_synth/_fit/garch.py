"""Per-regime dynamics: GJR-GARCH with Student-t shocks by maximum likelihood, jumps by a
threshold.

The variance targets the regime's long-run variance v (the variance of its cleaned
residuals), as the generator does:
    h_t = v (1 - alpha - gamma/2 - beta) + (alpha + gamma [e_{t-1} < 0]) e_{t-1}^2 + beta h_{t-1}
with h_0 = v. The recursion is a first-order linear filter in h, run by scipy's lfilter.
A regime's bars are joined in time order and treated as one series.

Jumps (threshold method): a bar whose residual exceeds JUMP_THRESHOLD conditional standard
deviations of a first Gaussian GJR fit is a jump; rate = jumps / bars, mean and vol of the
jump residuals. Their variance, rate (mean^2 + vol^2), is taken out of the diffusive
variance and the jump bars are set to zero before the final fit.
"""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np
from scipy import optimize, signal, special

JUMP_THRESHOLD = 4.0
MIN_JUMPS = 3
MIN_BARS = 60  # a regime with fewer bars keeps no dynamics
DF_BOUNDS = (2.5, 60.0)  # at the upper bound the tails are dropped (Gaussian)
PERSISTENCE_MAX = 0.995


@dataclass(frozen=True)
class Dynamics:
    garch: tuple[float, float, float] | None  # alpha, gamma, beta
    df: float | None
    jumps: tuple[float, float, float] | None  # rate, mean, vol
    variance: float  # the diffusive long-run variance


def _variances(params, e: np.ndarray, v: float) -> np.ndarray:
    alpha, gamma, beta = params[:3]
    prev = np.empty_like(e)
    prev[0] = 0.0
    prev[1:] = e[:-1]
    drive = v * (1.0 - alpha - 0.5 * gamma - beta) + (alpha + gamma * (prev < 0.0)) * prev * prev
    drive[0] = v * (1.0 - beta)  # so that h_0 = v
    return signal.lfilter([1.0], [1.0, -beta], drive)


def _nll(params, e: np.ndarray, v: float, student: bool) -> float:
    h = _variances(params, e, v)
    if not np.all(h > 0.0):
        return 1e300
    if student:
        df = params[3]
        c = (
            special.gammaln((df + 1.0) / 2.0)
            - special.gammaln(df / 2.0)
            - 0.5 * np.log(np.pi * (df - 2.0))
        )
        ll = c - 0.5 * np.log(h) - 0.5 * (df + 1.0) * np.log1p(e * e / (h * (df - 2.0)))
        return float(-ll.sum())
    return float(0.5 * (np.log(2.0 * np.pi * h) + e * e / h).sum())


def _fit_gjr(e: np.ndarray, v: float, student: bool) -> np.ndarray:
    start = [0.05, 0.05, 0.85] + ([8.0] if student else [])
    bounds = [(0.0, 0.5), (0.0, 0.5), (0.0, PERSISTENCE_MAX)] + ([DF_BOUNDS] if student else [])
    constraint = {
        "type": "ineq",
        "fun": lambda p: PERSISTENCE_MAX - (p[0] + 0.5 * p[1] + p[2]),
    }
    result = optimize.minimize(
        _nll,
        start,
        args=(e, v, student),
        method="SLSQP",
        bounds=bounds,
        constraints=[constraint],
        options={"maxiter": 200, "ftol": 1e-9},
    )
    return np.asarray(result.x, dtype=np.float64)


def fit_dynamics(e: np.ndarray) -> Dynamics:
    """GJR, tails and jumps of one regime's residuals ``e`` (mean removed)."""
    v = float(np.mean(e * e))
    if len(e) < MIN_BARS or v <= 0.0:
        return Dynamics(None, None, None, v)
    first = _fit_gjr(e, v, student=False)
    z = e / np.sqrt(_variances(first, e, v))
    jump_bars = np.abs(z) > JUMP_THRESHOLD
    jumps = None
    clean = e
    if int(jump_bars.sum()) >= MIN_JUMPS:
        sizes = e[jump_bars]
        rate = float(jump_bars.mean())
        mean = float(sizes.mean())
        vol = float(sizes.std())
        clean = np.where(jump_bars, 0.0, e)
        v_clean = float(np.mean(clean * clean))
        jumps = (rate, mean, vol)
        v = v_clean
    params = _fit_gjr(clean, v, student=True)
    alpha, gamma, beta, df = (float(x) for x in params)
    tails = df if df < DF_BOUNDS[1] * 0.99 else None
    return Dynamics((alpha, gamma, beta), tails, jumps, v)
