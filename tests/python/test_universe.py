"""Universes: exactness against standalone runs, independence from the other assets,
requested correlations, and the same bytes on every executor."""

import concurrent.futures as cf
import json
import math

import pytest
import quarno_synth as qs
from quarno_synth import sweep
from quarno_synth.universe import universe_arrow

np = pytest.importorskip("numpy")
pa = pytest.importorskip("pyarrow")

BARS = 120


def asset_spec(seed, bars=BARS, kind="trend", drift=0.0, vol=0.01, **micro):
    return {
        "seed": seed,
        "bars": bars,
        "start_price": 100.0,
        "bar_secs": 86400,
        "regimes": [{"kind": kind, "len": bars, "drift": drift, "vol": vol}],
        "microstructure": {"book_depth": 2, "spread_bps": 5.0, "trade_rate": 1.5, **micro},
    }


def universe(n, bars=BARS, loadings=None, **members):
    made = qs.make_universe(n, "market,sector:3", seed=3, bars=bars, trade_rate=1.0)
    if loadings is not None:
        for entry in made["assets"]:
            entry["loadings"] = loadings
    made.update(members)
    return made


def asset_tables(tables, symbol):
    out = {}
    for name, table in tables.items():
        mask = pa.compute.equal(table.column("symbol").cast(pa.string()), symbol)
        out[name] = table.filter(mask).drop_columns(["symbol"])
    return out


def test_zero_loadings_give_the_standalone_run():
    u = universe(3, loadings={"default": [0.0] * 4, "crash": [0.0] * 4})
    frames = qs.generate_frames(u)
    for entry in u["assets"]:
        alone = qs.generate_frames(entry["spec"])
        for name, frame in frames.items():
            mine = frame[frame["symbol"] == entry["symbol"]].drop(columns="symbol")
            want = alone[name]
            assert mine.reset_index(drop=True).equals(want.reset_index(drop=True)), name


def test_an_asset_does_not_depend_on_the_other_assets_or_their_order():
    big = universe(50)
    pick = big["assets"][7]
    tables = {}
    for assets in ([pick], big["assets"][5:8], big["assets"], big["assets"][::-1]):
        made = universe_arrow(dict(big, assets=assets), threads=3)
        tables[len(assets), assets[0]["symbol"]] = asset_tables(made, pick["symbol"])
    first, *others = tables.values()
    for other in others:
        for name in first:
            assert other[name].equals(first[name]), name
    # the expanded spec alone, in either form, gives the same tables
    expanded = qs.load_universe(big).spec(pick["symbol"])
    for form in (expanded, json.dumps(expanded)):
        alone = qs.generate_arrow(form)
        assert all(alone[name].equals(first[name]) for name in first)


@pytest.mark.parametrize("labels", [False, True])
def test_every_table_function_gives_the_same_tables(labels):
    u = universe(4, bars=30)
    arrow = qs.generate_arrow(u, labels=labels)
    frames = qs.generate_frames(u, labels=labels)
    arrays = qs.generate_arrays(u, labels=labels)
    batches = list(qs.iter_batches(json.dumps(u), batch_bars=7, arrow=True, labels=labels))
    for name, table in arrow.items():
        got = pa.Table.from_pandas(frames[name], schema=table.schema, preserve_index=False)
        assert got.equals(table), name
        streamed = pa.Table.from_batches([b[name] for b in batches], schema=table.schema)
        assert streamed.equals(table), name
        codes = table.column("symbol").combine_chunks().indices.to_numpy()
        assert np.array_equal(arrays[name]["symbol"], codes)
    polars = qs.generate_polars(u, labels=labels)["candles"]
    assert polars.columns == arrow["candles"].column_names
    assert polars["close"].to_list() == arrow["candles"].column("close").to_pylist()


def test_labels_of_an_asset_are_its_standalone_labels(tmp_path):
    u = universe(3, bars=40)
    u["assets"][1]["spec"]["regimes"][0]["garch"] = {"alpha": 0.1, "gamma": 0.1, "beta": 0.8}
    u["assets"][1]["spec"]["regimes"][0]["tails"] = {"df": 4.0}
    tables = qs.generate_arrow(u, labels=True)
    qs.write_parquet(u, tmp_path / "u", labels=True)
    pq = pytest.importorskip("pyarrow.parquet")
    for symbol, spec in qs.load_universe(u):
        alone = qs.generate_arrow(spec, labels=True)["candles"]
        assert tables["candles"].column_names == ["symbol", *alone.column_names]
        assert asset_tables(tables, symbol)["candles"].equals(alone)
        file = qs.write_parquet(spec, tmp_path / symbol, labels=True)["candles"]
        written = tmp_path / "u" / "candles" / f"symbol={symbol}" / "part-0.parquet"
        assert pq.read_table(written).equals(pq.read_table(file))


def innovations(u):
    """Each asset's standardised innovation z of every bar, recovered from its candles (trend:
    f = z vol + drift; crash: f + |drift| = vol (z - |z|/2))."""
    loaded = qs.load_universe(u)
    r = qs.cross_section(loaded, "returns", frame="numpy")
    out = np.empty_like(r)
    for j, (_, spec) in enumerate(loaded):
        start = 0
        for regime in spec["regimes"]:
            part = slice(start, start + regime["len"])
            if regime["kind"] == "crash":
                y = (r[part, j] + abs(regime["drift"])) / regime["vol"]
                y = np.where(y >= 0, y * 2.0, y / 1.5)
            else:
                y = (r[part, j] - regime["drift"]) / regime["vol"]
            out[part, j] = y
            start += regime["len"]
    return out


def sampling_sd(rho, n):
    """Standard deviation of a sample correlation over n bars: its spread from seed to seed."""
    return (1.0 - rho * rho) / math.sqrt(n)


def test_realised_correlation_matches_a_requested_matrix():
    rng = np.random.default_rng(5)
    a = rng.uniform(-1.0, 1.0, size=(10, 3))
    cov = a @ a.T + np.diag(rng.uniform(0.2, 0.6, size=10))
    d = np.sqrt(np.diag(cov))
    corr = (cov / np.outer(d, d)).round(6)
    np.fill_diagonal(corr, 1.0)
    bars = 200_000
    assets = [
        {"symbol": f"S{i}", "spec": asset_spec(100 + i, bars, trade_rate=0.0)} for i in range(10)
    ]
    doc = {"factor_seed": 9, "correlation": corr.tolist(), "assets": assets}
    realised = np.corrcoef(innovations(doc), rowvar=False)
    assert np.abs(realised - corr).max() < 0.01


def test_crash_loadings_raise_the_correlation_on_crash_bars():
    # calm and crash blocks in turn; the trend's drift makes up for the crash's fall
    block, blocks = 200, 50
    half = block * blocks
    regimes = [
        {"kind": "trend", "len": block, "drift": 0.004, "vol": 0.01},
        {"kind": "crash", "len": block, "drift": 0.0, "vol": 0.01},
    ] * blocks
    crash = (np.arange(2 * half) // block) % 2 == 1
    assets = []
    for i in range(4):
        spec = dict(asset_spec(40 + i, 2 * half, trade_rate=0.0), regimes=regimes)
        loadings = {"default": [0.5, 0.0], "crash": [0.9, 0.0]}
        assets.append({"symbol": f"S{i}", "spec": spec, "loadings": loadings})
    doc = {"factor_seed": 2, "factors": ["market", "other"], "assets": assets}
    z = innovations(doc)
    for part, rho in ((~crash, 0.25), (crash, 0.81)):
        c = np.corrcoef(z[part], rowvar=False)[np.triu_indices(4, 1)]
        assert np.abs(c - rho).max() < 5 * sampling_sd(rho, half)
    facts = qs.correlation_facts(z, stress=crash)
    assert facts["stress_correlation"] > facts["calm_correlation"] + 0.5


def test_cross_section_is_the_closes_of_the_tables():
    u = universe(4, bars=60)
    wide = qs.cross_section(u)
    candles = qs.generate_frames(u)["candles"]
    pivot = candles.pivot(index="ts", columns="symbol", values="close")
    assert list(wide.columns) == [a["symbol"] for a in u["assets"]]
    assert np.array_equal(wide.to_numpy(), pivot[wide.columns].to_numpy())


def dataset_files(root):
    paths = sorted(p for p in root.rglob("*.parquet"))
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in paths}


def test_threads_processes_and_a_cluster_write_the_same_dataset(tmp_path):
    distributed = pytest.importorskip("distributed")
    u = universe(5, bars=80)
    plan = dict(spec=u, seeds=[0, 7])
    made = {}
    sweep.generate_dataset(**plan, path=tmp_path / "here", max_workers=1)
    sweep.generate_dataset(**plan, path=tmp_path / "pool", max_workers=2)
    with cf.ThreadPoolExecutor(2) as threads:
        sweep.generate_dataset(**plan, path=tmp_path / "threads", executor=threads)
    with distributed.LocalCluster(
        n_workers=2, processes=True, threads_per_worker=1, dashboard_address=":0"
    ) as cluster:
        with sweep.cluster_executor(cluster.scheduler_address) as executor:
            sweep.generate_dataset(**plan, path=tmp_path / "cluster", executor=executor)
    for name in ("here", "pool", "threads", "cluster"):
        made[name] = dataset_files(tmp_path / name)
    assert len(made["here"]) == 4 * 5 * 2
    assert all(files == made["here"] for files in made.values())
    # seed 0 is the universe as written, and write_parquet writes the same files
    qs.write_parquet(u, tmp_path / "written")
    seed0 = {k.replace("seed=0/", ""): v for k, v in made["here"].items() if "seed=0/" in k}
    assert dataset_files(tmp_path / "written") == seed0
    tables = universe_arrow(u)
    part = pa.parquet.read_table(tmp_path / "here/candles/seed=0/symbol=A1/part-0.parquet")
    want = asset_tables(tables, "A1")["candles"]
    assert part.cast(want.schema).equals(want)  # Parquet keeps ts in milliseconds


BAD = [
    (dict(factor_seed=-1), "factor_seed must be an integer from 0 to 2^64 - 1, not -1"),
    (dict(extra=1), "unknown member 'extra', expected one of factor_seed, factors, assets, "
     "correlation, vols, jumps"),
    (dict(factors=["market", "market", "s2", "s3"]), "factor names repeat: give each factor once"),
    (dict(jumps={"rate": 2.0, "mean": 0.0, "vol": 1.0}),
     "jumps.rate must be within [0, 1], not 2.0"),
]  # fmt: skip
ASSET_BAD = [
    ("loadings", [0.8, 0.7, 0.0, 0.0],
     'asset "A1": loadings: sum of squared loadings is 1.13, must be <= 1'),
    ("loadings", [0.5], 'asset "A1": loadings must be a list of 4 numbers (one per factor)'),
    ("loadings", {"default": [0.0] * 4, "crsh": [0.0] * 4},
     "asset \"A1\": loadings: unknown key 'crsh', expected default, trend, range, crash, vol"),
    ("bars", 61, 'asset "A1": bars is 61 but 60 in "A0"; every asset shares the bar clock '
     "(bars, start_ts, bar_secs)"),
    ("bar_secs", 60, 'asset "A1": bar_secs is 60 but 86400 in "A0"; every asset shares the bar '
     "clock (bars, start_ts, bar_secs)"),
    ("symbol", "A0", 'asset "A0": the symbol repeats; give each asset once'),
    ("start_price", -1.0, 'asset "A1": bad spec: start_price must be finite and > 0'),
    ("microstructure", {"book_depth": 1, "spread_bps": 1.0, "trade_rate": 5.0, "ticks": {}},
     'asset "A1": the tick model (microstructure.ticks) is not available in a universe; '
     "generate the asset on its own"),
]  # fmt: skip


@pytest.mark.parametrize("change, message", BAD)
def test_bad_universes_are_named(change, message):
    with pytest.raises(qs.SynthError) as info:
        qs.load_universe(dict(universe(2, bars=60), **change))
    assert str(info.value) == f"universe: {message}"


@pytest.mark.parametrize("member, value, message", ASSET_BAD)
def test_bad_assets_are_named(member, value, message):
    u = universe(3, bars=60)
    entry = u["assets"][1]
    if member in ("loadings", "symbol"):
        entry[member] = value
    elif member in ("start_price", "microstructure"):
        entry["spec"][member] = value
    else:
        entry["spec"][member] = value
        entry["spec"]["regimes"] = [dict(entry["spec"]["regimes"][0], len=value)]
        if member != "bars":
            entry["spec"]["regimes"] = u["assets"][0]["spec"]["regimes"]
    with pytest.raises(qs.SynthError) as info:
        qs.generate_arrow(u)
    assert str(info.value) == f"universe: {message}"


def test_the_factors_member_is_checked_in_both_forms():
    spec = dict(asset_spec(1), factors={"seed": 1, "count": 2, "loadings": [0.5, "x"]})
    with pytest.raises(qs.SynthError, match=r'^parse: invalid type: string "x", expected f64 at '
                       "line 1 column "):  # fmt: skip
        qs.generate_arrays(json.dumps(spec))
    spec["factors"]["loadings"] = [0.9, 0.9]
    with pytest.raises(qs.SynthError) as info:
        qs.generate_arrays(spec)
    assert str(info.value) == "bad spec: factors.loadings: sum of squared loadings must be <= 1"
    with pytest.raises(qs.SynthError, match="^parse: unknown field `factors`"):
        qs.generate(spec)  # the command protocol reads the classic language only


def test_cli_makes_and_writes_a_universe(tmp_path, capsys):
    from quarno_synth.cli import main

    path = tmp_path / "u.json"
    argv = ["universe", "--assets", "6", "--factors", "market,sector:2", "--bars", "50"]
    assert main([*argv, "-o", str(path)]) == 0
    assert main(["generate", str(path), "--format", "parquet", "-o", str(tmp_path / "d")]) == 0
    import pyarrow.dataset as ds

    table = ds.dataset(tmp_path / "d" / "candles", partitioning="hive").to_table()
    assert table.num_rows == 6 * 50
    assert main(["validate", str(path)]) == 0
    assert main(["generate", str(path)]) == 2
    assert "is a universe" in capsys.readouterr().err
    assert main(["sweep", str(path), "--workers", "1", "-o", str(tmp_path / "s")]) == 0
    swept = ds.dataset(tmp_path / "s" / "candles", partitioning="hive").to_table()
    assert swept.sort_by("symbol").equals(table.sort_by("symbol"))


def test_fill_runs_refuses_runs_that_do_not_stack():
    from quarno_synth._columns import Run, fill_runs

    def run(depth=2, labels=False):
        return Run(json.dumps(asset_spec(1, bars=5, book_depth=depth)), labels=labels)

    used = run()
    used.next_batch(1)
    for runs, message in [
        ([], "needs at least one run"),
        ([run(), run(depth=3)], "share a book depth"),
        ([run(), run(labels=True)], "all have labels or none"),
        ([run(), used], "fresh runs only"),
    ]:
        with pytest.raises(ValueError, match=message):
            fill_runs(runs)
    batch, counts = fill_runs([run(labels=True), run(labels=True)])
    assert batch.labels and [bars for bars, _, _ in counts] == [5, 5]
