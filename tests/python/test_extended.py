"""The extended language: a superset of the classic one, read by every data entry point."""

import hashlib
import json
from pathlib import Path

import pytest

import quarno_synth as qs
from quarno_synth._columns import Run

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
    assert str(classic.value) == (
        f"unknown field `tails`, expected one of {CLASSIC_REGIME}".join(["parse: ", ""])
    )
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
GOLDEN = {
    r["name"]: r["spec"]
    for r in map(
        json.loads, (Path(__file__).parents[1] / "golden" / "specs.jsonl").read_text().splitlines()
    )
}
NEUTRAL = {"garch": {"alpha": 0.0, "gamma": 0.0, "beta": 0.0}, "jumps": {"rate": 0.0, "mean": 0.1, "vol": 0.2}}  # fmt: skip


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
    plain = qs.generate_frames(s)["candles"]
    labeled = qs.generate_frames(s, labels=True)["candles"]
    pd.testing.assert_frame_equal(labeled[plain.columns], plain, check_exact=True)
    bounds = np.cumsum([0] + [r["len"] for r in s["regimes"]])
    regime = np.searchsorted(bounds, np.arange(s["bars"]), side="right") - 1
    np.testing.assert_array_equal(labeled["regime"], regime)
    kinds = [s["regimes"][i]["kind"] for i in regime]
    assert labeled["kind"].astype(str).tolist() == kinds
    assert list(labeled["kind"].cat.categories) == ["trend", "range", "crash", "vol"]
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


def test_each_extension_keeps_the_other_streams():
    """Turning jumps on moves no classic draw and no other extension's draw."""
    no_jumps = DYNAMIC | {"regimes": [dict(r, jumps=None) for r in DYNAMIC["regimes"]]}
    without = qs.generate_arrays(no_jumps, labels=True)
    with_jumps = qs.generate_arrays(DYNAMIC, labels=True)
    for table, column in (("book", "qty"), ("trades", "qty"), ("candles", "sigma")):
        np.testing.assert_array_equal(with_jumps[table][column], without[table][column])
    first = int(np.argmax(with_jumps["candles"]["jump"] != 0.0))
    assert first > 0
    np.testing.assert_array_equal(
        with_jumps["candles"]["close"][:first], without["candles"]["close"][:first]
    )


GOLDEN_DIR = Path(__file__).parents[1] / "golden"
EXTENDED_GOLDEN = [
    r
    for r in map(json.loads, (GOLDEN_DIR / "specs.jsonl").read_text().splitlines())
    if r.get("extended")
]
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


def test_jumps_come_at_their_rate():
    rate, bars = 0.05, 4000
    s = one_regime(bars=bars, jumps={"rate": rate, "mean": 0.0, "vol": 0.02})
    jumped = sum(
        np.count_nonzero(qs.generate_arrays(dict(s, seed=seed), labels=True)["candles"]["jump"])
        for seed in SEEDS
    )
    n, p = bars * len(SEEDS), 1.0 - np.exp(-rate)  # bars with at least one jump
    assert abs(jumped - n * p) < 4 * np.sqrt(n * p * (1 - p))
