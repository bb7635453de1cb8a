"""An independent, straight-line model of a run, written from the generation
rules in plain Python (whose floats are the same doubles and whose math
functions are the C library's), compared byte for byte with the module's
responses."""

import json
import math

import pytest

from quarno_synth import Synth

MASK = (1 << 64) - 1


class Rng:
    def __init__(self, seed):
        self.s = []
        for k in range(1, 5):
            x = (seed + k * 0x9E3779B97F4A7C15) & MASK
            x = ((x ^ (x >> 30)) * 0xBF58476D1CE4E5B9) & MASK
            x = ((x ^ (x >> 27)) * 0x94D049BB133111EB) & MASK
            self.s.append(x ^ (x >> 31))

    def u64(self):
        s0, s1, s2, s3 = self.s
        rotl = lambda v, k: ((v << k) | (v >> (64 - k))) & MASK
        result = (rotl((s0 + s3) & MASK, 23) + s0) & MASK
        t = (s1 << 17) & MASK
        s2 ^= s0
        s3 ^= s1
        s1 ^= s2
        s0 ^= s3
        s2 ^= t
        s3 = rotl(s3, 45)
        self.s = [s0, s1, s2, s3]
        return result

    def f64(self):
        return (self.u64() >> 11) * 1.1102230246251565e-16

    def normal(self):
        u1 = self.f64()
        u2 = self.f64()
        r = math.sqrt(math.log(max(u1, 2.2250738585072014e-308)) * -2.0)
        return math.cos(u2 * 6.283185307179586) * r


def round8(x):
    scaled = x * 100000000.0
    if not math.isfinite(scaled):
        # A finite value too large to scale is already whole and stays as it is.
        return x if math.isfinite(x) else scaled
    # C round: halves go away from zero (a - floor(a) is exact).
    a = abs(scaled)
    r = math.floor(a)
    if a - r >= 0.5:
        r += 1
    return math.copysign(float(r), scaled) / 100000000.0


def num(x):
    """A double in the writer's layout, from Python's shortest round-trip repr."""
    if not math.isfinite(x):
        return "null"
    if x == 0:
        return "-0.0" if math.copysign(1.0, x) < 0 else "0.0"
    r = repr(abs(x))
    if "e" in r:
        m, ex = r.split("e")
        e, ds = int(ex), m.replace(".", "")
    else:
        whole, _, frac = r.partition(".")
        if whole != "0":
            e, ds = len(whole) - 1, whole + frac
        else:
            stripped = frac.lstrip("0")
            e, ds = -(len(frac) - len(stripped)) - 1, stripped
    ds = ds.rstrip("0")
    n = len(ds)
    sign = "-" if x < 0 else ""
    if -5 <= e <= 15:
        if e < 0:
            return sign + "0." + "0" * (-e - 1) + ds
        if e < n - 1:
            return sign + ds[: e + 1] + "." + ds[e + 1 :]
        return sign + ds + "0" * (e - n + 1) + ".0"
    return sign + ds[0] + ("." + ds[1:] if n > 1 else "") + "e" + ("+" if e > 0 else "-") + str(abs(e))


def run(spec):
    rng = Rng(spec["seed"])
    micro = spec["microstructure"]
    depth, rate = micro["book_depth"], float(micro["trade_rate"])
    sf = float(micro["spread_bps"]) / 10000.0
    limit = math.exp(-rate)
    funding = micro.get("funding")
    price = float(spec["start_price"])
    ts = spec.get("start_ts", 1700000000)
    schedule = [r for r in spec["regimes"] for _ in range(r["len"])]
    history, bars, seq, anchor = [], [], 0, price
    for j in range(spec["bars"]):
        regime = schedule[j]
        if j == 0 or schedule[j - 1] is not regime:
            anchor = price
        vol, drift, kind = float(regime["vol"]), float(regime["drift"]), regime["kind"]
        o = price
        z = rng.normal()
        if kind == "trend":
            f = (z * vol) + drift
        elif kind == "range":
            f = (z * vol) - (math.log(o / anchor) * drift)
        elif kind == "crash":
            f = (((abs(z) * -0.5) + z) * vol) - abs(drift)
        else:
            f = z * vol
        c = math.exp(f) * o
        u3 = rng.f64()
        width = (u3 + 0.5) * max(abs(f), vol)
        hi = math.exp(width * 0.5) * max(o, c)
        lo = math.exp(width * -0.5) * min(o, c)
        u4 = rng.f64()
        volume = (((abs(z) * 0.5) + 1.0) * 1000.0) * (u4 + 0.5)
        candle = {"ts": ts, "open": o, "high": hi, "low": lo, "close": c, "volume": volume}
        history.append(f)
        spread = (c * sf) * ((abs(f) / (vol + 0.000000001)) + 1.0)
        h = spread * 0.5
        tick = c * 0.0001
        sides = {}
        for name, best in (("bids", c - h), ("asks", h + c)):
            levels = []
            for k in range(depth):
                u = rng.f64()
                p = best - (tick * k) if name == "bids" else (tick * k) + best
                q = (math.exp(k * -0.3) * 5.0) * (u + 1.0)
                levels.append((p, q))
            sides[name] = levels
        trades = []
        if rate > 0:
            p, n = 1.0, 0
            while True:
                p *= rng.f64()
                n += 1
                if not p > limit:
                    break
            for _ in range(n - 1):
                ua = rng.f64()
                tp = (((ua + ua) + (-1.0)) * h) + c
                ub = rng.f64()
                trades.append((ts, seq, tp, ub + 0.5, "sell" if tp < c else "buy"))
                seq += 1
        point = None
        if funding and (j + 1) % funding["interval_bars"] == 0:
            window = history[-funding["interval_bars"]:]
            total = window[0]
            for r in window[1:]:
                total = total + r
            mean = total / len(window)
            point = (ts, (mean * float(funding["sensitivity"])) + float(funding["base_rate"]))
        bars.append((candle, sides, trades, point))
        if j + 1 < spec["bars"]:
            ts += spec.get("bar_secs", 3600)
        price = c
    return bars


def candle_text(c):
    return ('{"ts":%d,"open":%s,"high":%s,"low":%s,"close":%s,"volume":%s}'
            % (c["ts"], *(num(round8(c[k])) for k in ("open", "high", "low", "close", "volume"))))


def book_text(ts, sides):
    lv = lambda levels: ",".join('{"price":%s,"qty":%s}' % (num(round8(p)), num(round8(q))) for p, q in levels)
    return '{"ts":%d,"bids":[%s],"asks":[%s]}' % (ts, lv(sides["bids"]), lv(sides["asks"]))


def trade_text(t):
    return '{"ts":%d,"seq":%d,"price":%s,"qty":%s,"side":"%s"}' % (t[0], t[1], num(round8(t[2])), num(round8(t[3])), t[4])


def funding_text(point):
    return '{"ts":%d,"rate":%s}' % (point[0], num(round8(point[1])))


def grouped(bars):
    out = '{"candles":[' + ",".join(candle_text(b[0]) for b in bars) + "]"
    out += ',"book_snapshots":[' + ",".join(book_text(b[0]["ts"], b[1]) for b in bars) + "]"
    out += ',"trades":[' + ",".join(trade_text(t) for b in bars for t in b[2]) + "]"
    points = [b[3] for b in bars if b[3]]
    if points:
        out += ',"funding":[' + ",".join(funding_text(p) for p in points) + "]"
    return out + "}"


def stream(bars):
    events = []
    for candle, sides, trades, point in bars:
        events += ['{"type":"trade","trade":%s}' % trade_text(t) for t in trades]
        events.append('{"type":"book","snapshot":%s}' % book_text(candle["ts"], sides))
        events.append('{"type":"candle","candle":%s}' % candle_text(candle))
        if point:
            events.append('{"type":"funding","sample":%s}' % funding_text(point))
    return '{"events":[' + ",".join(events) + "]}"


def spec(seed, bars, regimes, depth=3, spread=5.0, rate=2.0, funding=None, **extra):
    micro = {"book_depth": depth, "spread_bps": spread, "trade_rate": rate}
    if funding:
        micro["funding"] = funding
    return {"seed": seed, "bars": bars, "start_price": extra.pop("start_price", 100.0),
            "regimes": [{"kind": k, "len": n, "drift": d, "vol": v} for k, n, d, v in regimes],
            "microstructure": micro, **extra}


SPECS = {
    "every_kind": spec(7, 40, [("trend", 10, 0.001, 0.02), ("range", 10, 0.3, 0.01),
                               ("crash", 10, -0.02, 0.03), ("vol", 10, 0.0, 0.05)],
                       funding={"interval_bars": 8, "base_rate": 0.0001, "sensitivity": 0.5}),
    "two_ranges": spec(1, 12, [("range", 6, 0.5, 0.02), ("range", 6, 0.8, 0.02)], depth=1, rate=0),
    "tiny_prices": spec(99, 25, [("vol", 25, 0.0, 0.3)], depth=8, rate=0.3, start_price=0.0001,
                        funding={"interval_bars": 1, "base_rate": 0.0, "sensitivity": 1e-4}),
    "flat_walk": spec(0, 5, [("trend", 5, 0.0, 0.0)], spread=0.0, rate=4.0,
                      start_ts=-3600, bar_secs=60),
    "heavy_trading": spec(18446744073709551615, 6, [("trend", 6, -0.001, 0.01)], depth=2,
                          rate=800.0),
    "large_prices": spec(5, 10, [("trend", 10, 0.01, 0.1)], depth=4, start_price=123456789.125),
}


@pytest.mark.parametrize("name", sorted(SPECS))
@pytest.mark.parametrize("shape", ["generate", "generate_stream"])
def test_module_matches_reference_model(name, shape):
    model = run(SPECS[name])
    expected = grouped(model) if shape == "generate" else stream(model)
    got = Synth("").command(json.dumps({"cmd": shape, "spec": SPECS[name]}))
    assert got == expected
