"""The peer of the columnar path: what a user could write with numpy in an afternoon.

Not a test and not the same numbers: it builds tables of the same shape and dtypes as
`generate_frames` (a normal walk with candles, a book of `depth` levels a side in long form,
Poisson trades, funding every 8 bars), fully vectorized, so the benchmark can set the
library's columnar path beside it.
"""

from __future__ import annotations

import numpy as np
import pandas as pd


def _round8(x: np.ndarray) -> np.ndarray:
    return np.round(x, 8)


def _ts(seconds: np.ndarray) -> pd.Series:
    return pd.Series(seconds.astype("datetime64[s]")).dt.tz_localize("UTC")


def peer_frames(bars: int, depth: int, rate: float, seed: int = 42) -> dict[str, pd.DataFrame]:
    rng = np.random.default_rng(seed)
    vol, start, spread_bps = 0.01, 100.0, 5.0
    ts = 1_700_000_000 + np.arange(bars, dtype=np.int64) * 3600

    z = rng.standard_normal(bars)
    f = z * vol
    close = start * np.exp(np.cumsum(f))
    open_ = np.concatenate(([start], close[:-1]))
    width = (rng.random(bars) + 0.5) * np.maximum(np.abs(f), vol)
    high = np.exp(width * 0.5) * np.maximum(open_, close)
    low = np.exp(width * -0.5) * np.minimum(open_, close)
    volume = ((np.abs(z) * 0.5 + 1.0) * 1000.0) * (rng.random(bars) + 0.5)
    candles = pd.DataFrame(
        {
            "ts": _ts(ts),
            "open": _round8(open_),
            "high": _round8(high),
            "low": _round8(low),
            "close": _round8(close),
            "volume": _round8(volume),
        }
    )

    half = close * (spread_bps / 10000.0) * (np.abs(f) / (vol + 1e-9) + 1.0) * 0.5
    tick = close * 0.0001
    k = np.arange(depth, dtype=np.float64)
    prices = np.empty((bars, 2, depth))
    prices[:, 0, :] = (close - half)[:, None] - tick[:, None] * k
    prices[:, 1, :] = tick[:, None] * k + (close + half)[:, None]
    qty = (np.exp(k * -0.3) * 5.0) * (rng.random((bars, 2, depth)) + 1.0)
    codes = np.tile(np.repeat(np.array([0, 1], dtype=np.int8), depth), bars)
    book = pd.DataFrame(
        {
            "ts": _ts(np.repeat(ts, 2 * depth)),
            "side": pd.Categorical.from_codes(codes, categories=["bid", "ask"]),
            "level": np.tile(np.arange(depth, dtype=np.int64), 2 * bars),
            "price": _round8(prices.reshape(-1)),
            "qty": _round8(qty.reshape(-1)),
        }
    )

    counts = rng.poisson(rate, bars) if rate > 0 else np.zeros(bars, dtype=np.int64)
    bar_of = np.repeat(np.arange(bars), counts)
    n = len(bar_of)
    trade_price = (rng.random(n) * 2.0 - 1.0) * half[bar_of] + close[bar_of]
    trades = pd.DataFrame(
        {
            "ts": _ts(ts[bar_of]),
            "seq": np.arange(n, dtype=np.uint64),
            "price": _round8(trade_price),
            "qty": _round8(rng.random(n) + 0.5),
            "side": pd.Categorical.from_codes(
                (trade_price < close[bar_of]).astype(np.int8), categories=["buy", "sell"]
            ),
        }
    )

    interval = 8
    whole = bars // interval * interval
    mean = f[:whole].reshape(-1, interval).mean(axis=1)
    funding = pd.DataFrame(
        {"ts": _ts(ts[interval - 1 : whole : interval]), "rate": _round8(mean * 0.01 + 0.0001)}
    )
    return {"candles": candles, "trades": trades, "book": book, "funding": funding}
