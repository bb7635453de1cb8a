"""The extended language: a superset of the classic one, read by every data entry point."""

import hashlib
import json
import math
from pathlib import Path

import pytest
import quarno_synth as qs
from quarno_synth._columns import Run
from test_reference_walk import MASK, Rng, round8

np = pytest.importorskip("numpy")

CLASSIC_REGIME = "`kind`, `len`, `drift`, `vol`"
EXTENDED_REGIME = "`kind`, `len`, `drift`, `vol`, `garch`, `tails`, `jumps`"

GARCH = {"alpha": 0.06, "gamma": 0.1, "beta": 0.88}
TAILS = {"df": 5.0}
JUMPS = {"rate": 0.05, "mean": -0.02, "vol": 0.03}


def spec(bars=40, **members):
    regimes = [
        {"kind": "trend", "len": bars // 2, "drift": 0.0004, "vol": 0.01, **members},
        {"kind": "crash", "len": bars - bars // 2, "drift": 0.003, "vol": 0.025},
    ]
    micro = {"book_depth": 3, "spread_bps": 2.0, "trade_rate": 2.0,
             "funding": {"interval_bars": 4, "base_rate": 1e-5, "sensitivity": 0.5}}  # fmt: skip
    return {"seed": 11, "bars": bars, "start_price": 100.0, "regimes": regimes,
            "microstructure": micro}  # fmt: skip


def same_arrays(a, b):
    return all(
        list(a[t]) == list(b[t])
        and all(
            a[t][c].tobytes() == b[t][c].tobytes() and a[t][c].dtype == b[t][c].dtype for c in a[t]
        )  # fmt: skip
        for t in ("candles", "trades", "book", "funding")
    )


def test_array_form_places_extension_members_after_the_classic_fields():
    as_objects = spec(garch=GARCH, tails=TAILS, jumps=JUMPS)
    as_arrays = json.loads(json.dumps(as_objects))
    first = as_arrays["regimes"][0]
    as_arrays["regimes"][0] = ["trend", first["len"], 0.0004, 0.01,
                               [0.06, 0.1, 0.88], [5.0], [0.05, -0.02, 0.03]]  # fmt: skip
    assert same_arrays(qs.generate_arrays(as_arrays), qs.generate_arrays(as_objects))
    # left out or null: absent
    short = json.loads(json.dumps(as_arrays))
    short["regimes"][0] = ["trend", first["len"], 0.0004, 0.01, None]
    assert same_arrays(qs.generate_arrays(short), qs.generate_arrays(spec()))


def test_members_are_extension_only():
    with pytest.raises(qs.SynthError) as classic:
        qs.generate(spec(tails=TAILS))
    assert str(classic.value) == f"parse: unknown field `tails`, expected one of {CLASSIC_REGIME}"
    for form in (spec(tails=TAILS), json.dumps(spec(tails=TAILS))):
        assert qs.generate_arrays(form)["candles"]["close"].shape == (40,)


def test_a_typo_is_an_unknown_field_listing_the_extended_record():
    text = json.dumps(spec(garch=GARCH)).replace('"garch"', '"garh"')
    with pytest.raises(qs.SynthError, match=f"^parse: unknown field `garh`, expected one of "
                       f"{EXTENDED_REGIME} at line 1 column "):  # fmt: skip
        Run(text)
    with pytest.raises(qs.SynthError) as info:
        qs.generate_frames(json.loads(text))
    assert str(info.value) == f"parse: unknown field `garh`, expected one of {EXTENDED_REGIME}"
    with pytest.raises(qs.SynthError, match="^parse: unknown field `b`, expected one of "
                       "`alpha`, `gamma`, `beta`$"):  # fmt: skip
        qs.iter_batches(spec(garch={"b": 1}))


BAD = [
    ("garch", {"alpha": -0.1, "gamma": 0.0, "beta": 0.5}, "garch: alpha must be finite and >= 0"),
    ("garch", {"alpha": 0.1, "gamma": -1.0, "beta": 0.5}, "garch: gamma must be finite and >= 0"),
    ("garch", {"alpha": 0.1, "gamma": 0.0, "beta": -0.5}, "garch: beta must be finite and >= 0"),
    ("garch", {"alpha": 0.1, "gamma": 0.2, "beta": 0.8},
     "garch: alpha + gamma/2 + beta must be below 1"),
    ("tails", {"df": 2.0}, "tails: df must be finite and > 2"),
    ("jumps", {"rate": -1.0, "mean": 0.0, "vol": 0.0}, "jumps: rate must be finite and >= 0"),
    ("jumps", {"rate": 1.0, "mean": 0.0, "vol": -0.5}, "jumps: vol must be finite and >= 0"),
]  # fmt: skip
MISSING = [("garch", {"alpha": 0.1, "beta": 0.5}, "missing field `gamma`"),
           ("tails", {}, "missing field `df`"),
           ("jumps", [0.1, 0.0], "invalid length 2, expected struct Jumps with 3 elements"),
           ("tails", 3.0, "invalid type: floating point `3.0`, expected struct Tails")]  # fmt: skip


@pytest.mark.parametrize("member, value, message", BAD + MISSING)
def test_bad_members_are_named_with_their_path(member, value, message):
    bad = spec(**{member: value})
    bad["regimes"][1][member] = bad["regimes"][0].pop(member)  # the second regime
    parse = message.startswith(("missing", "invalid"))
    want = f"parse: {message}" if parse else f"bad spec: regimes[1].{message}"
    for form in (bad, json.dumps(bad)):
        with pytest.raises(qs.SynthError) as info:
            Run(form) if isinstance(form, str) else qs.generate_arrays(form)
        got = str(info.value)
        assert (got.split(" at line ")[0] if isinstance(form, str) else got) == want
        assert (" at line " in got) == (parse and isinstance(form, str))


def test_sweeps_and_the_cli_read_the_extended_language(tmp_path):
    pq = pytest.importorskip("pyarrow.parquet")
    from quarno_synth.cli import main

    extended = spec(garch=GARCH, tails=TAILS, jumps=JUMPS)
    manifest = qs.generate_dataset(
        extended, seeds=[3], path=tmp_path / "ds", max_workers=1, labels=True
    )
    assert (manifest["summary"]["failed"], manifest["labels"]) == (0, True)
    candles = pq.read_table(tmp_path / "ds" / "candles" / "seed=3" / "part-0.parquet")
    assert candles.column_names[-4:] == ["regime", "kind", "sigma", "jump"]
    path = tmp_path / "s.json"
    path.write_text(json.dumps(extended))
    assert main(["validate", str(path)]) == 0
    out = tmp_path / "csv"
    assert main(["generate", str(path), "--format", "csv", "-o", str(out), "--labels"]) == 0
    lines = (out / "candles.csv").read_text().splitlines()
    assert (len(lines), lines[0]) == (41, "ts,open,high,low,close,volume,regime,kind,sigma,jump")


# --- dynamics ------------------------------------------------------------------------------

pd = pytest.importorskip("pandas")
GOLDEN_DIR = Path(__file__).parents[1] / "golden"
GOLDEN_LINES = [json.loads(line) for line in (GOLDEN_DIR / "specs.jsonl").read_text().splitlines()]
GOLDEN = {r["name"]: r["spec"] for r in GOLDEN_LINES}
NEUTRAL = {
    "garch": {"alpha": 0.0, "gamma": 0.0, "beta": 0.0},
    "jumps": {"rate": 0.0, "mean": 0.1, "vol": 0.2},
}


@pytest.mark.parametrize("name", ["all_kinds", "array_form", "trade_rate_1e9"])
def test_neutral_members_give_the_classic_tables(name):
    classic = GOLDEN[name]
    neutral = json.loads(json.dumps(classic))
    for i, regime in enumerate(neutral["regimes"] if isinstance(neutral, dict) else neutral[5]):
        if isinstance(regime, dict):
            regime.update(NEUTRAL if i % 2 == 0 else {"garch": None})
        else:
            regime += [[0.0, 0.0, 0.0], None, [0.0, 0.0, 0.0]]
    assert same_arrays(qs.generate_arrays(neutral), qs.generate_arrays(classic))


def test_labels_of_a_classic_run_are_its_schedule():
    s = GOLDEN["all_kinds"]
    plain, labeled = (qs.generate_frames(s, labels=on)["candles"] for on in (False, True))
    pd.testing.assert_frame_equal(labeled[plain.columns], plain, check_exact=True)
    regime = np.repeat(np.arange(4), [r["len"] for r in s["regimes"]])
    np.testing.assert_array_equal(labeled["regime"], regime)
    assert labeled["kind"].tolist() == [s["regimes"][i]["kind"] for i in regime]
    np.testing.assert_array_equal(labeled["sigma"], [s["regimes"][i]["vol"] for i in regime])
    assert (labeled["jump"] == 0.0).all()


DYNAMIC = spec(bars=60, garch=GARCH, tails=TAILS, jumps={"rate": 0.3, "mean": -0.02, "vol": 0.03})
DYNAMIC["regimes"].insert(1, {"kind": "range", "len": 5, "drift": 0.1, "vol": 0.02,
                              "garch": {"alpha": 0.2, "gamma": 0.0, "beta": 0.5}})  # fmt: skip
DYNAMIC["regimes"][2]["len"] -= 5


@pytest.mark.parametrize("size", [1, 7, 65])
def test_extended_batches_concatenate_to_the_whole_run(size, tmp_path):
    whole = qs.generate_frames(DYNAMIC, labels=True)
    parts = list(qs.iter_batches(DYNAMIC, batch_bars=size, labels=True))
    for table in whole:
        got = pd.concat([p[table] for p in parts])
        pd.testing.assert_frame_equal(got, whole[table], check_exact=True)
    arrow = qs.generate_arrow(DYNAMIC, labels=True)["candles"]
    assert arrow.column("kind").to_pylist() == whole["candles"]["kind"].astype(str).tolist()
    paths = qs.write_csv(DYNAMIC, tmp_path, batch_bars=size, labels=True)
    header, *rows = [line.split(",") for line in paths["candles"].read_text().splitlines()]
    assert header == list(whole["candles"].columns)
    for i, name in enumerate(header[1:], 1):
        want = whole["candles"][name]
        assert [row[i] for row in rows] == (
            want.astype(str).tolist() if name == "kind" else [repr(v) for v in want.tolist()]
        )


EXTENDED_GOLDEN = [r for r in GOLDEN_LINES if r.get("extended")]
DIGESTS = dict(
    (line.split()[0], line.split()[2])
    for line in (GOLDEN_DIR / "digests.txt").read_text().splitlines()
    if line.split()[1] == "tables"
)


@pytest.mark.parametrize("case", EXTENDED_GOLDEN, ids=lambda r: r["name"])
def test_csv_files_of_extended_runs_are_the_golden_bytes(case, tmp_path):
    """The golden driver digests the native CSV bytes of every table; the writers agree."""
    try:
        paths = qs.write_csv(case["spec"], tmp_path, labels=True, batch_bars=17)
        data = b"".join(paths[t].read_bytes() for t in ("candles", "trades", "book", "funding"))
    except qs.SynthError as exc:
        data = str(exc).encode()
    assert hashlib.sha256(data).hexdigest() == DIGESTS[case["name"]]


# --- an independent model of the documented formulas --------------------------------------


def splitmix(x):
    x = ((x ^ (x >> 30)) * 0xBF58476D1CE4E5B9) & MASK
    x = ((x ^ (x >> 27)) * 0x94D049BB133111EB) & MASK
    return x ^ (x >> 31)


class PolarNormals:
    def __init__(self, rng):
        self.rng, self.spare = rng, None

    def next(self):
        if self.spare is not None:
            x, self.spare = self.spare, None
            return x
        while True:
            u = (self.rng.f64() * 2.0) - 1.0
            v = (self.rng.f64() * 2.0) - 1.0
            s = (u * u) + (v * v)
            if 0.0 < s < 1.0:
                m = math.sqrt((math.log(s) * -2.0) / s)
                self.spare = v * m
                return u * m


def gamma_draw(d, c, normals, rng):
    while True:
        x = normals.next()
        v = (c * x) + 1.0
        if v <= 0.0:
            continue
        v = (v * v) * v
        u = rng.f64()
        x2 = x * x
        if u < 1.0 - ((0.0331 * x2) * x2):
            return d * v
        if (math.log(u) if u > 0 else -math.inf) < (x2 * 0.5) + (d * ((1.0 - v) + math.log(v))):
            return d * v


def model_candles(s):
    """Candles and labels of a spec with depth 1 and no trades, straight from the docs."""
    rng = Rng(s["seed"])
    tails = Rng(splitmix(s["seed"] ^ splitmix(1)))
    normals = PolarNormals(tails)
    jumps = Rng(splitmix(s["seed"] ^ splitmix(2)))
    price, rows, shock, var = s["start_price"], [], 0.0, 0.0
    for index, r in enumerate(s["regimes"]):
        anchor, vol, drift, g = price, r["vol"], r["drift"], r.get("garch")
        for _ in range(r["len"]):
            z = rng.normal()
            e = z
            if r.get("tails"):
                df = r["tails"]["df"]
                d = (df * 0.5) - (1.0 / 3.0)
                e = z * math.sqrt(
                    (df - 2.0) / (gamma_draw(d, 1.0 / math.sqrt(d * 9.0), normals, tails) * 2.0)
                )
            sigma2, sigma = vol * vol, vol
            if g and rows:
                omega = (vol * vol) * (((1.0 - g["alpha"]) - (g["gamma"] * 0.5)) - g["beta"])
                w = g["alpha"] + g["gamma"] if shock < 0.0 else g["alpha"]
                sigma2 = (omega + (w * (shock * shock))) + (g["beta"] * var)
                sigma = math.sqrt(sigma2)
            shock, var = e * sigma, sigma2
            f = {
                "trend": (e * sigma) + drift,
                "range": (e * sigma) - (math.log(price / anchor) * drift),
                "crash": (((abs(e) * -0.5) + e) * sigma) - abs(drift),
                "vol": e * sigma,
            }[r["kind"]]
            jump = 0.0
            if r.get("jumps"):
                j, p, n = r["jumps"], 1.0, 0
                while True:
                    p, n = p * jumps.f64(), n + 1
                    if p <= math.exp(-j["rate"]):
                        break
                for _ in range(n - 1):
                    jump = jump + ((jumps.normal() * j["vol"]) + j["mean"])
                f = f + jump
            close = math.exp(f) * price
            width = (rng.f64() + 0.5) * max(abs(f), sigma)
            high, low = (
                math.exp(width * 0.5) * max(price, close),
                math.exp(width * -0.5) * min(price, close),
            )
            size = abs((e * sigma) + jump) / vol if vol > 0 else abs(e)
            volume = (((size * 0.5) + 1.0) * 1000.0) * (rng.f64() + 0.5)
            rng.f64(), rng.f64()  # the book's two levels
            rows.append(
                [round8(x) for x in (price, high, low, close, volume)] + [index, sigma, jump]
            )
            price = close
    return rows  # fmt: skip


def test_runs_follow_the_documented_formulas():
    s = spec(
        bars=48, garch=GARCH, tails={"df": 3.5}, jumps={"rate": 0.4, "mean": -0.01, "vol": 0.02}
    )
    s["regimes"] = [s["regimes"][0] | {"len": 12},
                    {"kind": "range", "len": 12, "drift": 0.2, "vol": 0.02, "garch": GARCH},
                    {"kind": "vol", "len": 6, "drift": 0.0, "vol": 0.01},
                    {"kind": "crash", "len": 12, "drift": 0.003, "vol": 0.02, "tails": {"df": 7.0},
                     "garch": {"alpha": 0.2, "gamma": 0.3, "beta": 0.5}},
                    {"kind": "trend", "len": 6, "drift": 0.001, "vol": 0.0, "jumps": JUMPS,
                     "garch": GARCH}]  # fmt: skip
    s["microstructure"] = {"book_depth": 1, "spread_bps": 2.0, "trade_rate": 0.0}
    candles = qs.generate_arrays(s, labels=True)["candles"]
    names = ("open", "high", "low", "close", "volume", "regime", "sigma", "jump")
    got = [list(row) for row in zip(*(candles[n].tolist() for n in names))]
    assert got == model_candles(s)
    assert any(row[-1] for row in got) and len({row[-2] for row in got}) > 20


# --- statistics (tolerances from the spread over seeds) --------------------------------------

SEEDS = range(12)


def returns(s, seed):
    close = qs.generate_arrays(dict(s, seed=seed))["candles"]["close"]
    return np.diff(np.log(close))


def one_regime(bars=4000, **members):
    s = spec(bars=bars, **members)
    s["regimes"] = [dict(s["regimes"][0], kind="vol", len=bars)]
    s["microstructure"] = {"book_depth": 1, "spread_bps": 1.0, "trade_rate": 0.0}
    return s


def acf1_abs(r):
    a = np.abs(r) - np.abs(r).mean()
    return float((a[1:] * a[:-1]).mean() / (a * a).mean())


def excess_kurtosis(r):
    c = r - r.mean()
    return float((c**4).mean() / (c**2).mean() ** 2 - 3.0)


def mean_and_error(values):
    values = np.asarray(values)
    return values.mean(), values.std(ddof=1) / np.sqrt(len(values))


def test_garch_clusters_volatility():
    clustered = mean_and_error([acf1_abs(returns(one_regime(garch=GARCH), s)) for s in SEEDS])
    plain = mean_and_error([acf1_abs(returns(one_regime(), s)) for s in SEEDS])
    assert clustered[0] - 4 * clustered[1] > 0.05
    assert abs(plain[0]) < 4 * plain[1] + 0.01


def test_tails_have_the_student_kurtosis():
    df = 10.0  # excess kurtosis 6 / (df - 4) = 1
    mean, error = mean_and_error([excess_kurtosis(returns(one_regime(tails={"df": df}), s))
                                  for s in SEEDS])  # fmt: skip
    assert abs(mean - 6.0 / (df - 4.0)) < 4 * error + 0.1


def test_jump_counts_have_mean_rate():
    rate, size, bars = 0.5, 0.001, 4000
    s = one_regime(bars=bars, jumps={"rate": rate, "mean": size, "vol": 0.0})
    counts = np.concatenate([
        np.rint(qs.generate_arrays(dict(s, seed=seed), labels=True)["candles"]["jump"] / size)
        for seed in SEEDS
    ])  # fmt: skip
    assert abs(counts.mean() - rate) < 4 * np.sqrt(rate / len(counts))
    none = np.exp(-rate)  # no jump in a bar
    assert abs(np.mean(counts == 0) - none) < 4 * np.sqrt(none * (1 - none) / len(counts))


def test_a_spec_too_large_for_memory_is_valid_and_its_run_fails(tmp_path):
    pytest.importorskip("pyarrow")
    from quarno_synth.cli import main

    huge = spec(tails=TAILS)
    huge["microstructure"]["book_depth"] = 10**15
    manifest = qs.generate_dataset(huge, seeds=[1], path=tmp_path / "ds", max_workers=1)
    assert manifest["runs"][0]["error"].startswith("out of memory")
    (tmp_path / "s.json").write_text(json.dumps(huge))
    assert main(["validate", str(tmp_path / "s.json")]) == 0
