"""Microstructure from what the data has.

Spread: the Corwin-Schultz (2012) high-low estimator. For two consecutive bars,
    b = ln(H_t / L_t)^2 + ln(H_{t+1} / L_{t+1})^2,  g = ln(max(H) / min(L))^2 over both bars,
    a = (sqrt(2 b) - sqrt(b)) / (3 - 2 sqrt 2) - sqrt(g / (3 - 2 sqrt 2)),
    S = 2 (e^a - 1) / (1 + e^a),
negative estimates set to 0 and the mean over all pairs taken; spread_bps = 10000 * mean S.
Without high and low the spread is DEFAULT_SPREAD_BPS. Book depth and trade rate stay at their
defaults: a price series carries no book and no trade count.
"""

from __future__ import annotations

import math

import numpy as np

DEFAULT_SPREAD_BPS = 2.0
BOOK_DEPTH = 10
TRADE_RATE = 20.0


def corwin_schultz_bps(high: np.ndarray, low: np.ndarray) -> float:
    ok = np.isfinite(high) & np.isfinite(low) & (low > 0.0) & (high >= low)
    pair = ok[:-1] & ok[1:]
    if pair.sum() < 2:
        return DEFAULT_SPREAD_BPS
    hl = np.log(high / low) ** 2
    b = (hl[:-1] + hl[1:])[pair]
    g = (np.log(np.maximum(high[:-1], high[1:]) / np.minimum(low[:-1], low[1:])) ** 2)[pair]
    k = 3.0 - 2.0 * math.sqrt(2.0)
    a = (np.sqrt(2.0 * b) - np.sqrt(b)) / k - np.sqrt(g / k)
    s = 2.0 * (np.exp(a) - 1.0) / (1.0 + np.exp(a))
    return float(np.maximum(s, 0.0).mean() * 10000.0)
