"""Tables made from the native batches equal the tables made from the JSON document."""

import csv
import json
import math
import sys
from pathlib import Path

import pytest
import quarno_synth as qs
from quarno_synth.writers import write_tables

np = pytest.importorskip("numpy")
pd = pytest.importorskip("pandas")
pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")

GOLDEN = {
    r["name"]: r["spec"]
    for r in map(
        json.loads,
        (Path(__file__).parents[1] / "golden" / "specs.jsonl").read_text("utf-8").splitlines(),
    )
}


def spec(bars=23, depth=7, rate=3.0, price=100.0, vol=0.01, spread=2.0, interval=5, **top):
    micro = {"book_depth": depth, "spread_bps": spread, "trade_rate": rate}
    if interval:
        micro["funding"] = {"interval_bars": interval, "base_rate": 1e-6, "sensitivity": 0.5}
    regimes = [{"kind": "vol", "len": bars, "drift": 0.0, "vol": vol}]
    return {"seed": 9, "bars": bars, "start_price": price, "regimes": regimes,
            "microstructure": micro, **top}  # fmt: skip


SPECS = {
    "depth_7_funding_5": spec(),
    "depth_1_heavy": spec(depth=1, rate=60.0, interval=0),
    "no_trades": spec(rate=0.0, interval=1),
    # prices near the top of the range: some values are null in the document, some not
    "partly_null": spec(bars=30, price=1.7e300, vol=0.05, spread=50.0, interval=4),
    "book_null": spec(price=1e300, spread=1e10),
    **{name: GOLDEN[name] for name in ("all_kinds", "trade_rate_1e9", "ts_i64_min", "array_form")},
}
TABLES = ("candles", "trades", "book", "funding")

# Two parts of the run, the second overflowing: the first batches come out, then the error.
FAILS_AT_BAR_20 = {
    "seed": 42, "bars": 30, "start_price": 100.0,
    "regimes": [{"kind": "vol", "len": 20, "drift": 0.0, "vol": 0.01},
                {"kind": "vol", "len": 10, "drift": 0.0, "vol": 1e300}],
    "microstructure": {"book_depth": 5, "spread_bps": 2.0, "trade_rate": 3.0},
}  # fmt: skip


def bars_of(spec):
    return spec["bars"] if isinstance(spec, dict) else spec[1]


def assert_same_frames(got, want):
    assert list(got) == list(TABLES)
    for table in TABLES:
        pd.testing.assert_frame_equal(got[table], want[table], check_exact=True)
        for name in want[table]:  # every float bit for bit (NaN is one NaN)
            if want[table][name].dtype == np.float64:
                a, b = got[table][name].to_numpy(), want[table][name].to_numpy()
                assert a.view(np.uint64).tobytes() == b.view(np.uint64).tobytes(), (table, name)


def assert_same_arrow(got, want):
    assert list(got) == list(TABLES)
    for table in TABLES:
        assert got[table].schema == want[table].schema
        assert got[table].equals(want[table]), table


@pytest.fixture(scope="module", params=list(SPECS))
def case(request):
    """(spec, document) of each spec."""
    s = SPECS[request.param]
    return s, qs.generate(s)


def test_whole_run_tables_equal_the_document_tables(case):
    s, doc = case
    assert_same_frames(qs.generate_frames(s), qs.to_pandas(doc))
    assert_same_frames(qs.generate_frames(json.dumps(s)), qs.to_pandas(doc))
    assert_same_arrow(qs.generate_arrow(s), qs.to_arrow(doc))
    if not isinstance(s, dict) or s.get("start_ts", 0) > -(10**15):
        polars = pytest.importorskip("polars")
        got, want = qs.generate_polars(s), qs.to_polars(doc)
        assert all(got[t].equals(want[t], null_equal=True) for t in TABLES)
        assert isinstance(got["book"], polars.DataFrame)


@pytest.mark.parametrize("size", ["1", "7", "bars+5"])
def test_batches_concatenated_equal_the_whole_run(case, size):
    s, doc = case
    batch_bars = bars_of(s) + 5 if size == "bars+5" else int(size)
    parts = list(qs.iter_batches(s, batch_bars=batch_bars))
    assert len(parts) == -(-bars_of(s) // batch_bars)
    frames = {t: pd.concat([p[t] for p in parts]) for t in TABLES}
    assert_same_frames(frames, qs.to_pandas(doc))
    batches = list(qs.iter_batches(s, batch_bars=batch_bars, arrow=True))
    want = qs.to_arrow(doc)
    tables = {t: pa.Table.from_batches([b[t] for b in batches], want[t].schema) for t in TABLES}
    assert_same_arrow(tables, want)


def test_wide_book_is_the_pivot_of_the_long_book():
    s = SPECS["partly_null"]
    long = qs.generate_frames(s)["book"]
    wide = qs.generate_frames(s, book="wide")["book"]
    depth = s["microstructure"]["book_depth"]
    names = ["ts"] + [f"{side}_{v}_{lv}" for side in ("bid", "ask") for lv in range(depth)
                      for v in ("price", "qty")]  # fmt: skip
    assert list(wide.columns) == names
    for name in names[1:]:
        side, value, level = name.split("_")
        expected = long[(long.side == side) & (long.level == int(level))][value].to_numpy()
        np.testing.assert_array_equal(wide[name].to_numpy(), expected)
    assert (wide["ts"].to_numpy() == long["ts"].to_numpy()[:: 2 * depth]).all()
    wide_arrow = qs.generate_arrow(s, book="wide")["book"]
    assert wide_arrow.equals(pa.Table.from_pandas(wide, preserve_index=False))
    levels = qs.generate_arrays(s)["book_levels"]
    np.testing.assert_array_equal(levels["ask_qty"][:, 2], wide["ask_qty_2"].to_numpy())
    assert levels["bid_price"].shape == (s["bars"], depth)


def test_arrays_are_the_frames_columns():
    s = SPECS["depth_7_funding_5"]
    arrays, frames = qs.generate_arrays(s), qs.generate_frames(s)
    for table in TABLES:
        assert list(arrays[table]) == list(frames[table].columns)
    book = frames["book"]
    assert (arrays["book"]["side"] == book["side"].cat.codes.to_numpy()).all()
    ts = frames["trades"]["ts"].astype("int64").to_numpy()  # seconds
    np.testing.assert_array_equal(arrays["trades"]["ts"], ts)


REJECTED = [
    spec(bars=0),
    {"seed": 1},
    [1, 2, 3],
    "",
    "{}",
    '{\n "seed": 1,\n "Bars": 2}',
    {"seed": 1, "bars": 1, "start_price": 1.0, "regimes": [{"kind": "vol", "Len": 1}]},
    json.dumps(spec(bars=0)),
    GOLDEN["walk_overflow"],
]


def assert_same_error(got, want):
    """The command's text, except that "unknown field" lists the extended record's fields:
    the classic ones first, then the extension members."""
    if "unknown field" not in want:
        assert got == want
        return
    (got_head, got_rest), (want_head, want_rest) = (
        t.split("expected one of ") for t in (got, want)
    )
    got_list, _, got_at = got_rest.partition(" at line ")
    want_list, _, want_at = want_rest.partition(" at line ")
    assert (got_head, got_at) == (want_head, want_at)
    assert got_list == want_list or got_list.startswith(want_list + ", ")


@pytest.mark.parametrize("bad", REJECTED)
def test_rejected_specs_raise_the_text_generate_raises(bad, tmp_path):
    with pytest.raises(qs.SynthError) as info:
        qs.generate(bad)
    calls = [
        qs.generate_frames,
        qs.generate_arrow,
        qs.generate_arrays,
        lambda s: list(qs.iter_batches(s)),
        lambda s: qs.write_csv(s, tmp_path / "out"),
    ]
    for call in calls:
        with pytest.raises(qs.SynthError) as got:
            call(bad)
        assert_same_error(str(got.value), str(info.value))
    assert not any(tmp_path.rglob("*.csv"))


def test_a_run_failing_part_way_raises_after_the_batches_before(tmp_path):
    batches = qs.iter_batches(FAILS_AT_BAR_20, batch_bars=7)
    firsts = [next(batches)["candles"].index[0], next(batches)["candles"].index[0]]
    assert firsts == [0, 7]
    with pytest.raises(qs.SynthError, match="^numeric: price walk produced a non-finite value$"):
        next(batches)
    seen = []
    note = lambda *bars: seen.append(bars)
    for fmt in ("csv", "parquet"):
        out = tmp_path / fmt
        paths = {t: out / f"{t}.{fmt}" for t in TABLES}
        out.mkdir()
        with pytest.raises(qs.SynthError, match="^numeric: "):
            write_tables(FAILS_AT_BAR_20, paths, fmt, batch_bars=7, on_bars=note)
        assert list(out.iterdir()) == []
    assert seen == [(7, 30), (14, 30)] * 2


def read_csv_table(path):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    return rows[0], rows[1:]


def document_rows(frame):
    """The frame's rows as the numbers they stand for: ts in seconds, NaN for null."""
    columns = []
    for name in frame.columns:
        values = frame[name]
        if name == "ts":
            columns.append(values.astype("int64").tolist())
        else:
            columns.append(values.astype(object).tolist() if name == "side" else values.tolist())
    return [list(row) for row in zip(*columns)]


def parsed(row):
    return [(int(v) if v.lstrip("-").isdigit() else (v if v.isalpha() else float(v or "nan")))
            for v in row]  # fmt: skip


def same_numbers(a, b):
    return len(a) == len(b) and all(
        x == y or (isinstance(x, float) and math.isnan(x) and math.isnan(y)) for x, y in zip(a, b)
    )


@pytest.mark.parametrize("book", ["long", "wide"])
def test_files_hold_the_document_tables(tmp_path, book):
    s = SPECS["partly_null"]
    doc = qs.generate(s)
    frames = qs.generate_frames(s, book=book) if book == "wide" else qs.to_pandas(doc)
    paths = qs.write_csv(s, tmp_path / "csv", book=book, batch_bars=7)
    for table in TABLES:
        header, rows = read_csv_table(paths[table])
        assert header == list(frames[table].columns)
        want = document_rows(frames[table])
        assert len(rows) == len(want)
        assert all(same_numbers(parsed(r), w) for r, w in zip(rows, want)), table

    paths = qs.write_parquet(s, tmp_path / "pq", book=book, batch_bars=7)
    reference = qs.to_arrow(doc) if book == "long" else qs.generate_arrow(s, book="wide")
    for table in TABLES:
        today = tmp_path / f"{table}.today.parquet"
        pq.write_table(reference[table], today)
        got = pq.read_table(paths[table])
        assert got.schema == pq.read_table(today).schema
        assert got.equals(pq.read_table(today))
    assert pq.ParquetFile(paths["candles"]).num_row_groups == -(-s["bars"] // 7)
    assert sorted(p.name for p in (tmp_path / "pq").iterdir()) == sorted(
        f"{t}.parquet" for t in TABLES
    )


def test_write_tables_counts_rows_and_reports_bars(tmp_path):
    s = SPECS["depth_7_funding_5"]
    frames = qs.generate_frames(s)
    seen = []
    paths = {t: tmp_path / f"{t}.csv" for t in TABLES}
    rows = write_tables(s, paths, "csv", batch_bars=10, on_bars=lambda *a: seen.append(a))
    assert rows == {t: len(frames[t]) for t in TABLES}
    assert seen == [(10, 23), (20, 23), (23, 23)]

    def interrupt(done, total):
        raise KeyboardInterrupt

    out = tmp_path / "interrupted"
    out.mkdir()
    with pytest.raises(KeyboardInterrupt):
        write_tables(s, {t: out / f"{t}.parquet" for t in TABLES}, "parquet", on_bars=interrupt)
    assert list(out.iterdir()) == []


@pytest.mark.parametrize("call", ["parquet", "polars"])
def test_timestamps_beyond_milliseconds_are_refused(tmp_path, call):
    s = GOLDEN["ts_near_max"]
    if call == "parquet":
        with pytest.raises(ValueError, match="^timestamps beyond .* do not fit Parquet; use CSV$"):
            qs.write_parquet(s, tmp_path / "out")
        assert not (tmp_path / "out").exists()
    else:
        pytest.importorskip("polars")
        for make in (lambda: qs.generate_polars(s), lambda: qs.to_polars(qs.generate(s))):
            with pytest.raises(ValueError, match="do not fit polars"):
                make()


@pytest.mark.parametrize(
    "module, call, extra",
    [
        ("numpy", lambda: qs.generate_arrays(SPECS["no_trades"]), "numpy"),
        ("pandas", lambda: qs.generate_frames(SPECS["no_trades"]), "pandas"),
        ("numpy", lambda: qs.iter_batches(SPECS["no_trades"]), "pandas"),
        ("pyarrow", lambda: qs.generate_arrow(SPECS["no_trades"]), "arrow"),
        ("pyarrow", lambda: qs.write_parquet(SPECS["no_trades"], "never"), "arrow"),
        ("polars", lambda: qs.to_polars({"candles": []}), "polars"),
        ("polars", lambda: qs.generate_polars(SPECS["no_trades"]), "polars"),
    ],
)
def test_a_missing_extra_is_named(monkeypatch, module, call, extra):
    for name in list(sys.modules):
        if name == module or name.startswith(module + "."):
            monkeypatch.delitem(sys.modules, name)
    monkeypatch.setitem(sys.modules, module, None)
    named = rf'needs {module}: pip install "quarno_synth\[{extra}\]"'
    with pytest.raises(ImportError, match=named):
        call()


@pytest.mark.parametrize("bad", [{"book": "tall"}, {"batch_bars": 0}])
def test_bad_options_are_refused(bad):
    with pytest.raises(ValueError):
        qs.iter_batches(SPECS["no_trades"], **bad)


# --- memory -------------------------------------------------------------------------------

WHOLE_RUNS = ["generate_frames", "generate_arrays", "generate_arrow", "generate_polars"]


@pytest.mark.parametrize("call", WHOLE_RUNS)
def test_a_run_beyond_memory_is_refused_before_any_batch(monkeypatch, call):
    from quarno_synth import batches

    if call == "generate_polars":
        pytest.importorskip("polars")
    bar_bytes = batches.open_run(spec(bars=1, depth=1, rate=0.0, interval=0)).bar_bytes
    # one and a half times the memory: too much once, never mind joined from batches
    bars = batches.physical_memory() * 3 // 2 // bar_bytes
    real = batches.iter_raw

    def whole_only(np, run, max_bars):
        assert max_bars == run.bars, "batches gathered for a run that cannot fit"
        return real(np, run, max_bars)

    monkeypatch.setattr(batches, "iter_raw", whole_only)
    with pytest.raises(MemoryError, match="needs more memory than this machine has"):
        getattr(qs, call)(spec(bars=bars, depth=1, rate=0.0, interval=0))


def _beyond_memory_depth():
    from quarno_synth.batches import physical_memory

    return physical_memory() // 2048  # 4 columns of at least 1 KiB per level: twice the memory


WIDE = spec(bars=1, depth=_beyond_memory_depth(), rate=0.0, interval=0)
WIDE_CALLS = {
    "header": lambda tmp: qs._columns.csv_header("book_wide", 2**64 - 1),
    "frames": lambda tmp: qs.generate_frames(WIDE, book="wide"),
    "arrays": lambda tmp: qs.generate_arrays(WIDE, book="wide"),
    "batches": lambda tmp: qs.iter_batches(WIDE, book="wide", arrow=True),
    "csv": lambda tmp: qs.write_csv(WIDE, tmp, book="wide"),
    "parquet": lambda tmp: qs.write_parquet(WIDE, tmp, book="wide"),
}


@pytest.mark.parametrize("call", list(WIDE_CALLS))
def test_a_wide_book_beyond_memory_is_refused_before_it_is_made(tmp_path, call):
    with pytest.raises(MemoryError, match="^out of memory: a wide book with book_depth"):
        WIDE_CALLS[call](tmp_path)
    assert list(tmp_path.iterdir()) == []
