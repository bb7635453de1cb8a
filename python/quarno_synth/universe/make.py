"""A ready universe from a few numbers: ``quarno-synth universe --assets 500 --factors
market,sector:10 --seed 1``.

Drawn with Python's own ``random.Random(seed)`` (the same on every platform and version), in
this order per asset: start price, vol, market loading, sector, sector loading, other
factors' loadings, asset seed. Ranges:

- factor "market" (the first factor): loading uniform in [0.3, 0.7];
- a group "sector:N" (factors sector1 .. sectorN): each asset belongs to one sector, drawn
  uniformly, with a loading uniform in [0.2, 0.45], 0 on the other sectors;
- any other factor: loading uniform in [-0.2, 0.2];
- a row whose sum of squares passes 0.95 is scaled down to 0.95;
- in "crash" bars the market loading moves halfway to the largest it can take,
  sqrt(0.98 - the other loadings' squares): correlation rises in the crash;
- vol (per bar) uniform in [0.01, 0.03], start price uniform in [20, 200] (two decimals);
- every asset shares the regime schedule: trend (drift vol / 20) for the first 60% of the
  bars, a crash (vol x 2.5, drift vol / 5) for 5%, then trend again;
- common jumps on the market factor: rate 1/500 bars, mean -3, vol 1 (factor sd units).
"""

from __future__ import annotations

import math
import random
from typing import Any

from .document import Universe, load_universe

_U64 = 2**64


def parse_factors(text: str) -> tuple[list[str], list[tuple[str, int]]]:
    """Factor names from "market,sector:10,value": (names, groups as (name, size))."""
    names: list[str] = []
    groups: list[tuple[str, int]] = []
    for part in (p.strip() for p in text.split(",")):
        name, _, count = part.partition(":")
        if not name or not name.replace("_", "").isalnum():
            raise ValueError(f"factor {part!r}: expected NAME or NAME:COUNT (e.g. sector:10)")
        if count:
            if not count.isdigit() or int(count) < 1:
                raise ValueError(f"factor {part!r}: COUNT must be a positive integer")
            groups.append((name, int(count)))
            names += [f"{name}{k + 1}" for k in range(int(count))]
        else:
            groups.append((name, 0))
            names.append(name)
    if len(set(names)) != len(names):
        raise ValueError("factor names repeat")
    return names, groups


def _schedule(bars: int, vol: float) -> list[dict[str, Any]]:
    calm = max(1, (bars * 6) // 10)
    crash = max(1, bars // 20) if bars > calm + 1 else 0
    rest = bars - calm - crash
    regimes = [{"kind": "trend", "len": calm, "drift": vol / 20.0, "vol": vol}]
    if crash:
        regimes.append({"kind": "crash", "len": crash, "drift": vol / 5.0, "vol": vol * 2.5})
    if rest:
        regimes.append({"kind": "trend", "len": rest, "drift": vol / 20.0, "vol": vol})
    return regimes


def make_universe(
    assets: int,
    factors: str = "market,sector:10",
    *,
    seed: int = 1,
    bars: int = 2520,
    bar_secs: int = 86400,
    start_ts: int = 1700000000,
    book_depth: int = 1,
    trade_rate: float = 0.0,
) -> dict[str, Any]:
    """A universe document of ``assets`` assets on ``factors`` (see the module notes)."""
    if isinstance(assets, bool) or not isinstance(assets, int) or assets < 1:
        raise ValueError(f"assets must be a positive int, not {assets!r}")
    if not 0 <= seed < _U64:
        raise ValueError("seed must be from 0 to 2^64 - 1")
    names, groups = parse_factors(factors)
    rng = random.Random(seed)
    width = len(str(assets))
    entries = []
    for i in range(assets):
        start_price = round(rng.uniform(20.0, 200.0), 2)
        vol = rng.uniform(0.01, 0.03)
        row: list[float] = []
        for k, (_group, size) in enumerate(groups):
            if k == 0 and size == 0:
                row.append(rng.uniform(0.3, 0.7))
            elif size:
                member = rng.randrange(size)
                weight = rng.uniform(0.2, 0.45)
                row += [weight if j == member else 0.0 for j in range(size)]
            else:
                row.append(rng.uniform(-0.2, 0.2))
        squares = sum(x * x for x in row)
        if squares > 0.95:
            row = [x * math.sqrt(0.95 / squares) for x in row]
        crash = list(row)
        if groups[0][1] == 0:
            others = sum(x * x for x in row[1:])
            top = math.sqrt(max(0.0, 0.98 - others))
            crash[0] = row[0] + 0.5 * (top - row[0])
        spec = {
            "seed": rng.getrandbits(64),
            "bars": bars,
            "start_price": start_price,
            "start_ts": start_ts,
            "bar_secs": bar_secs,
            "regimes": _schedule(bars, vol),
            "microstructure": {
                "book_depth": book_depth,
                "spread_bps": 5.0,
                "trade_rate": trade_rate,
            },
        }
        loadings: Any = {"default": row, "crash": crash} if crash != row else row
        entries.append({"symbol": f"A{i:0{width}d}", "spec": spec, "loadings": loadings})
    doc = {
        "factor_seed": seed,
        "factors": names,
        "jumps": {"rate": 0.002, "mean": -3.0, "vol": 1.0},
        "assets": entries,
    }
    load_universe(doc)  # a made universe is always valid
    return doc


__all__ = ["Universe", "make_universe", "parse_factors"]
