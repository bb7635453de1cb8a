"""An independent, straight-line model of a run, written from the generation
rules in plain Python (whose floats are the same doubles and whose math
functions are the C library's), compared byte for byte with the module's
responses."""

import json
import math
import random

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
    """round(x * 1e8) / 1e8 with C's round: halves go away from zero. A scaled
    value that overflows stays infinite."""
    scaled = x * 100000000.0
    if not math.isfinite(scaled):
        return scaled
    # a - floor(a) is exact for every double.
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
    return (
        sign + ds[0] + ("." + ds[1:] if n > 1 else "") + "e" + ("+" if e > 0 else "-") + str(abs(e))
    )


def exp(x):
    """C's exp: overflow is infinity, not an exception."""
    try:
        return math.exp(x)
    except OverflowError:
        return math.inf


def log(x):
    """C's log on the quotients the walk forms: 0 gives -inf, NaN stays NaN."""
    if x == 0:
        return -math.inf
    return math.log(x) if x > 0 or math.isinf(x) else math.nan


def div(a, b):
    """IEEE division: a zero divisor gives an infinity or NaN."""
    if b == 0:
        return (
            math.nan
            if a == 0 or math.isnan(a)
            else math.copysign(math.inf, a) * math.copysign(1.0, b)
        )
    return a / b


class NonFinite(Exception):
    pass


def run(spec):
    rng = Rng(spec["seed"])
    micro = spec["microstructure"]
    depth, rate = micro["book_depth"], float(micro["trade_rate"])
    sf = float(micro["spread_bps"]) / 10000.0
    limit = exp(-rate)
    funding = micro.get("funding")
    price = float(spec["start_price"])
    ts = spec.get("start_ts", 1700000000)
    regimes = spec["regimes"]
    history, bars, seq, anchor = [], [], 0, price
    index, position = 0, 0
    for j in range(spec["bars"]):
        regime = regimes[index]
        if position == 0:
            anchor = price
        vol, drift, kind = float(regime["vol"]), float(regime["drift"]), regime["kind"]
        o = price
        z = rng.normal()
        if kind == "trend":
            f = (z * vol) + drift
        elif kind == "range":
            f = (z * vol) - (log(div(o, anchor)) * drift)
        elif kind == "crash":
            f = (((abs(z) * -0.5) + z) * vol) - abs(drift)
        else:
            f = z * vol
        c = exp(f) * o
        u3 = rng.f64()
        width = (u3 + 0.5) * max(abs(f), vol)
        hi = exp(width * 0.5) * max(o, c)
        lo = exp(width * -0.5) * min(o, c)
        u4 = rng.f64()
        volume = (((abs(z) * 0.5) + 1.0) * 1000.0) * (u4 + 0.5)
        if not all(math.isfinite(v) for v in (o, hi, lo, c, volume)):
            raise NonFinite
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
                q = (exp(k * -0.3) * 5.0) * (u + 1.0)
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
            window = history[-funding["interval_bars"] :]
            total = window[0]
            for r in window[1:]:
                total = total + r
            mean = total / len(window)
            point = (ts, (mean * float(funding["sensitivity"])) + float(funding["base_rate"]))
        bars.append((candle, sides, trades, point))
        if j + 1 < spec["bars"]:
            ts += spec.get("bar_secs", 3600)
        position += 1
        if position == regime["len"]:
            index, position = index + 1, 0
        price = c
    return bars


def candle_text(c):
    return '{"ts":%d,"open":%s,"high":%s,"low":%s,"close":%s,"volume":%s}' % (
        c["ts"],
        *(num(round8(c[k])) for k in ("open", "high", "low", "close", "volume")),
    )


def book_text(ts, sides):
    lv = lambda levels: ",".join(
        '{"price":%s,"qty":%s}' % (num(round8(p)), num(round8(q))) for p, q in levels
    )
    return '{"ts":%d,"bids":[%s],"asks":[%s]}' % (ts, lv(sides["bids"]), lv(sides["asks"]))


def trade_text(t):
    return '{"ts":%d,"seq":%d,"price":%s,"qty":%s,"side":"%s"}' % (
        t[0],
        t[1],
        num(round8(t[2])),
        num(round8(t[3])),
        t[4],
    )


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
    return {
        "seed": seed,
        "bars": bars,
        "start_price": extra.pop("start_price", 100.0),
        "regimes": [{"kind": k, "len": n, "drift": d, "vol": v} for k, n, d, v in regimes],
        "microstructure": micro,
        **extra,
    }


NUMERIC = '{"ok":false,"error":"numeric: price walk produced a non-finite value"}'


def expected(spec, shape):
    try:
        model = run(spec)
    except NonFinite:
        return NUMERIC
    return grouped(model) if shape == "generate" else stream(model)


FUNDING = {"interval_bars": 8, "base_rate": 0.0001, "sensitivity": 0.5}

SPECS = {
    "every_kind": spec(
        7,
        40,
        [
            ("trend", 10, 0.001, 0.02),
            ("range", 10, 0.3, 0.01),
            ("crash", 10, -0.02, 0.03),
            ("vol", 10, 0.0, 0.05),
        ],
        funding=FUNDING,
    ),
    "two_ranges": spec(1, 12, [("range", 6, 0.5, 0.02), ("range", 6, 0.8, 0.02)], depth=1, rate=0),
    "short_ranges": spec(
        4,
        9,
        [
            ("range", 1, 0.9, 0.03),
            ("range", 2, 0.9, 0.03),
            ("range", 3, 2.5, 0.03),
            ("range", 3, -0.4, 0.03),
        ],
        funding={"interval_bars": 3, "base_rate": 0.0, "sensitivity": 2.0},
    ),
    "tiny_prices": spec(
        99,
        25,
        [("vol", 25, 0.0, 0.3)],
        depth=8,
        rate=0.3,
        start_price=0.0001,
        funding={"interval_bars": 1, "base_rate": 0.0, "sensitivity": 1e-4},
    ),
    "exponent_prices": spec(3, 6, [("vol", 6, 0.0, 0.2)], depth=2, start_price=1.5e-7),
    "flat_walk": spec(
        0, 5, [("trend", 5, 0.0, 0.0)], spread=0.0, rate=4.0, start_ts=-3600, bar_secs=60
    ),
    "zero_vol_moves": spec(12, 8, [("trend", 4, 0.002, 0.0), ("range", 4, 0.5, -0.0)], rate=1.0),
    "deep_book": spec(8, 3, [("vol", 3, 0.0, 0.01)], depth=70, rate=0.0),
    "heavy_trading": spec(
        18446744073709551615, 6, [("trend", 6, -0.001, 0.01)], depth=2, rate=800.0
    ),
    "rate_at_poisson_edge": spec(21, 4, [("vol", 4, 0.0, 0.01)], depth=1, rate=745.2),
    "rate_subnormal": spec(22, 6, [("vol", 6, 0.0, 0.01)], depth=1, rate=5e-324),
    "rate_negative_zero": spec(23, 3, [("vol", 3, 0.0, 0.01)], depth=1, rate=-0.0),
    "rate_tiny": spec(24, 5, [("vol", 5, 0.0, 0.01)], depth=1, rate=1e-300),
    "large_prices": spec(5, 10, [("trend", 10, 0.01, 0.1)], depth=4, start_price=123456789.125),
    "crash_up_drift": spec(6, 8, [("crash", 8, 0.02, 0.04)], funding=FUNDING),
    "funding_every_bar_negative_zero": spec(
        9,
        6,
        [("trend", 6, -0.0, 0.0)],
        depth=1,
        rate=0,
        funding={"interval_bars": 1, "base_rate": -0.0, "sensitivity": 0.0},
    ),
    "funding_longer_than_run": spec(
        10,
        5,
        [("vol", 5, 0.0, 0.02)],
        funding={"interval_bars": 6, "base_rate": 0.1, "sensitivity": 1.0},
    ),
    "funding_rate_overflows": spec(
        11,
        4,
        [("vol", 4, 0.0, 0.02)],
        depth=1,
        funding={"interval_bars": 2, "base_rate": 1e308, "sensitivity": 1e308},
    ),
    "single_bar_at_i64_max": spec(
        13,
        1,
        [("crash", 1, 0.01, 0.02)],
        start_ts=9223372036854775807,
        bar_secs=9223372036854775807,
    ),
    "bars_at_i64_min": spec(
        14, 3, [("vol", 3, 0.0, 0.02)], start_ts=-9223372036854775808, bar_secs=4611686018427387903
    ),
    # The close underflows to 0 and the walk stays there; a deep spread overflows.
    "close_underflows": spec(
        15,
        6,
        [("crash", 6, 400.0, 0.01)],
        start_price=1e-300,
        funding={"interval_bars": 2, "base_rate": 0.0, "sensitivity": 1.0},
    ),
    "spread_overflows": spec(
        16, 3, [("trend", 3, 0.5, 0.0)], depth=2, spread=30000.0, start_price=1e299
    ),
    "wide_spread_negative_bids": spec(17, 4, [("vol", 4, 0.0, 0.01)], spread=30000.0),
    # Rounding a price above about 1.8e300 overflows; the check saw finite values.
    "prices_beyond_rounding": spec(
        18, 2, [("trend", 2, 0.0, 0.0)], depth=1, spread=0.0, start_price=1e305
    ),
    "range_from_zero": spec(
        19, 4, [("crash", 2, 800.0, 0.01), ("range", 2, 0.1, 0.01)], start_price=1e-300
    ),
    "drift_overflows": spec(20, 3, [("trend", 3, 800.0, 0.01)]),
    "late_overflow": spec(25, 4, [("vol", 3, 0.0, 0.01), ("trend", 1, 710.0, 0.0)]),
}


@pytest.mark.parametrize("name", sorted(SPECS))
@pytest.mark.parametrize("shape", ["generate", "generate_stream"])
def test_module_matches_reference_model(name, shape):
    got = Synth("").command(json.dumps({"cmd": shape, "spec": SPECS[name]}))
    assert got == expected(SPECS[name], shape)


@pytest.mark.parametrize(
    "name, fails",
    [
        ("drift_overflows", True),
        ("range_from_zero", True),
        ("late_overflow", True),
        ("close_underflows", False),
        ("prices_beyond_rounding", False),
    ],
)
def test_model_reaches_the_edges_it_is_meant_to(name, fails):
    assert (expected(SPECS[name], "generate") == NUMERIC) == fails


def test_crash_ignores_the_sign_of_drift():
    down = dict(
        SPECS["crash_up_drift"], regimes=[{"kind": "crash", "len": 8, "drift": -0.02, "vol": 0.04}]
    )
    answers = {
        Synth("").command(json.dumps({"cmd": "generate", "spec": s}))
        for s in (down, SPECS["crash_up_drift"])
    }
    assert len(answers) == 1


def random_spec(rnd):
    """A small spec with values the spec reader converts exactly (at most ten
    significant digits, small exponents), so the model's floats are the module's."""
    pick = rnd.choice
    regimes = [
        (
            pick(["trend", "range", "crash", "vol"]),
            rnd.randint(1, 5),
            pick([0.0, -0.0, 0.001, -0.01, 0.4, -2.0, round(rnd.uniform(-1, 1), 6)]),
            pick([0.0, -0.0, 0.01, 0.5, 3.0, round(rnd.uniform(0, 1), 6)]),
        )
        for _ in range(rnd.randint(1, 4))
    ]
    funding = None
    if rnd.random() < 0.6:
        funding = {
            "interval_bars": pick([1, 2, 3, 7, 50]),
            "base_rate": pick([0.0, -0.0, 0.0001, -1e-9]),
            "sensitivity": pick([0.0, -0.0, 0.5, -3.0]),
        }
    return spec(
        rnd.getrandbits(64),
        sum(r[1] for r in regimes),
        regimes,
        depth=rnd.randint(1, 5),
        spread=pick([0.0, 2.0, 30000.0, round(rnd.uniform(0, 50), 4)]),
        rate=pick([0.0, 1e-300, 0.2, 3.0, 746.0, round(rnd.uniform(0, 9), 5)]),
        funding=funding,
        start_price=pick([100.0, 1e-6, 5e-324, 123456.789, 1e15]),
        start_ts=pick([1700000000, -7, 0]),
        bar_secs=pick([1, 60, 3600]),
    )


@pytest.mark.parametrize("seed", range(8))
def test_random_specs_match_the_model(seed):
    rnd = random.Random(seed)
    for _ in range(10):
        s = random_spec(rnd)
        for shape in ("generate", "generate_stream"):
            got = Synth("").command(json.dumps({"cmd": shape, "spec": s}))
            assert got == expected(s, shape), json.dumps(s)
