"""Each fitted state as one regime kind, with drift and vol estimated for that kind's formula.

The state's bars are those of the most likely state path; r are their log returns, with mean
m and standard deviation s over n bars. In order:

- crash, when the state is more volatile than the whole series, its drift is clearly negative
  (t = m / s * sqrt(n) <= -DRIFT_T) and the crash formula can carry that mean: the formula
  (((|z| * -0.5) + z) * vol) - |drift| has mean CRASH_MEAN * vol - |drift| and variance
  CRASH_VAR * vol^2, so vol = s / sqrt(CRASH_VAR) and |drift| = -m + CRASH_MEAN * vol must be
  >= 0;
- range, when the path mean-reverts: regressing r_t on -ln(open_t / anchor_t) (the anchor
  being the price where the state's stretch began, no intercept) gives drift d > 0 with
  t-statistic >= REVERSION_T; vol is the residual standard deviation;
- trend, when the drift is clear: |t| >= DRIFT_T; drift = m, vol = s;
- vol otherwise: vol = s.
"""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np

DRIFT_T = 1.0
REVERSION_T = 3.0
CRASH_MEAN = -0.5 * math.sqrt(2.0 / math.pi)  # E[(|z| * -0.5) + z]
CRASH_VAR = 1.25 - CRASH_MEAN * CRASH_MEAN


@dataclass(frozen=True)
class KindFit:
    kind: str
    drift: float
    vol: float
    residuals: np.ndarray  # the state's returns less the kind's mean part
    drift_t: float
    reversion: float
    reversion_t: float


def _anchor_offsets(r: np.ndarray, path: np.ndarray, state: int) -> np.ndarray:
    """ln(open / anchor) of every bar of ``state``: the log return since its stretch began."""
    mask = path == state
    starts = mask & np.concatenate(([True], ~mask[:-1]))
    before = np.concatenate(([0.0], np.cumsum(np.where(mask, r, 0.0))[:-1]))
    first = np.maximum.accumulate(np.where(starts, np.arange(len(r)), 0))
    offsets: np.ndarray = (before - before[first])[mask]
    return offsets


def classify(r: np.ndarray, path: np.ndarray, state: int, series_std: float) -> KindFit:
    x = r[path == state]
    n = len(x)
    m = float(x.mean())
    s = float(x.std())
    t = m / s * math.sqrt(n) if s > 0 else 0.0
    offsets = _anchor_offsets(r, path, state)
    sxx = float(offsets @ offsets)
    d = -float(offsets @ x) / sxx if sxx > 0 else 0.0
    resid = x + d * offsets
    d_se = float(resid.std()) / math.sqrt(sxx) if sxx > 0 else math.inf
    d_t = d / d_se if d_se > 0 else 0.0
    if s > series_std and t <= -DRIFT_T:
        vol = s / math.sqrt(CRASH_VAR)
        magnitude = -m + CRASH_MEAN * vol
        if magnitude >= 0.0:
            return KindFit("crash", -magnitude, vol, x - m, t, d, d_t)
    if d > 0.0 and d_t >= REVERSION_T:
        return KindFit("range", d, float(resid.std()), resid - resid.mean(), t, d, d_t)
    if abs(t) >= DRIFT_T:
        return KindFit("trend", m, s, x - m, t, d, d_t)
    return KindFit("vol", 0.0, s, x - m, t, d, d_t)
