"""Regime dynamics: one GJR-GARCH with Student-t shocks for the whole series, by maximum
likelihood, and jumps by a threshold.

The variance is the generator's own recursion: it runs through every regime boundary and
targets the long-run variance v_s of the bar's state s:
    h_t = v_s (1 - alpha - gamma/2 - beta) + (alpha + gamma [e_{t-1} < 0]) e_{t-1}^2
          + beta h_{t-1},   h_0 = v_{s_0},
with e_t the return less its state's mean. The GJR parameters and the degrees of freedom are
shared by the states (each regime carries the same members), so the recursion is one linear
filter in h (scipy's lfilter) and the likelihood is exact for the model the generator runs.

Jumps (threshold method), found before the regimes: a bar whose return is beyond
JUMP_THRESHOLD conditional standard deviations of a Gaussian GJR fitted to the whole series is
a jump. Its return is replaced by the mean return of the other bars for the regime fit, so
the states, their drift and vol and the GJR describe the diffusive part alone. A jump's size
is its return less its state's mean. One jump law serves every state: mean and vol of all
jump sizes (a state sees too few jumps to tell its own); each state's rate is its jumps per bar.
With fewer than MIN_JUMPS jumps in the series there are none.
"""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np
from scipy import optimize, signal, special

JUMP_THRESHOLD = 4.0
MIN_JUMPS = 3
MIN_BARS = 100  # a shorter series keeps no dynamics
DF_BOUNDS = (2.5, 100.0)  # at the upper bound the tails are dropped (Gaussian)
PERSISTENCE_MAX = 0.995


@dataclass(frozen=True)
class Dynamics:
    garch: tuple[float, float, float] | None  # alpha, gamma, beta (shared by the states)
    df: float | None
    jumps: list[tuple[float, float, float] | None]  # rate, mean, vol per state
    variances: np.ndarray  # diffusive long-run variance per state


def _variances(params: np.ndarray, e: np.ndarray, v: np.ndarray) -> np.ndarray:
    alpha, gamma, beta = params[:3]
    prev = np.empty_like(e)
    prev[0] = 0.0
    prev[1:] = e[:-1]
    drive = v * (1.0 - alpha - 0.5 * gamma - beta) + (alpha + gamma * (prev < 0.0)) * prev * prev
    drive[0] = v[0] * (1.0 - beta)  # so that h_0 = v_0
    h: np.ndarray = signal.lfilter([1.0], [1.0, -beta], drive)
    return h


def _nll(params: np.ndarray, e: np.ndarray, v: np.ndarray, student: bool) -> float:
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


def _fit_gjr(e: np.ndarray, v: np.ndarray, student: bool) -> np.ndarray:
    start = [0.03, 0.05, 0.85] + ([8.0] if student else [])
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
        options={"maxiter": 200, "ftol": 1e-10},
    )
    return np.asarray(result.x, dtype=np.float64)


def _state_variances(e: np.ndarray, path: np.ndarray, k: int) -> np.ndarray:
    counts = np.bincount(path, minlength=k).astype(np.float64)
    return np.bincount(path, weights=e * e, minlength=k) / np.maximum(counts, 1.0)


def detect_jumps(r: np.ndarray) -> np.ndarray:
    """Bars whose return is beyond JUMP_THRESHOLD conditional standard deviations of a
    Gaussian GJR fitted to the whole series (one state); none in a series too short."""
    e = r - r.mean()
    v = np.full(len(e), float(np.mean(e * e)))
    if len(e) < MIN_BARS or not v[0] > 0.0:
        return np.zeros(len(e), dtype=bool)
    z = e / np.sqrt(_variances(_fit_gjr(e, v, student=False), e, v))
    is_jump: np.ndarray = np.abs(z) > JUMP_THRESHOLD
    return is_jump


def fit_dynamics(e: np.ndarray, path: np.ndarray, k: int, jump_sizes: np.ndarray) -> Dynamics:
    """GJR and tails of the residuals ``e`` (jumps taken out) whose states are ``path``
    (0..k-1), and each state's jumps from ``jump_sizes`` (NaN on bars without a jump)."""
    v_state = _state_variances(e, path, k)
    jumps: list[tuple[float, float, float] | None] = [None] * k
    is_jump = ~np.isnan(jump_sizes)
    if int(is_jump.sum()) >= MIN_JUMPS:
        sizes = jump_sizes[is_jump]
        mean, vol = float(sizes.mean()), float(sizes.std())
        for state in range(k):
            count = int((is_jump & (path == state)).sum())
            if count:
                jumps[state] = (count / int((path == state).sum()), mean, vol)
    if len(e) < MIN_BARS or not np.all(v_state > 0.0):
        return Dynamics(None, None, jumps, v_state)
    alpha, gamma, beta, df = (float(x) for x in _fit_gjr(e, v_state[path], student=True))
    tails = df if df < DF_BOUNDS[1] * 0.99 else None
    return Dynamics((alpha, gamma, beta), tails, jumps, v_state)
