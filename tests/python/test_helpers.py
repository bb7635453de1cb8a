"""The Python helpers: generate/validate, tables for pandas and Arrow, chart, examples."""

import json
import math
import sys
from importlib import resources

import pytest
import quarno_synth as qs
from quarno_synth.batches import open_run
from quarno_synth.columns import result_columns
from quarno_synth.schedule import RegimeSpan, regime_spans

SPEC = {
    "seed": 11,
    "bars": 12,
    "start_price": 250.0,
    "start_ts": 1710000000,
    "bar_secs": 60,
    "regimes": [
        {"kind": "trend", "len": 5, "drift": 0.001, "vol": 0.01},
        {"kind": "crash", "len": 7, "drift": 0.01, "vol": 0.02},
    ],
    "microstructure": {
        "book_depth": 3,
        "spread_bps": 2.0,
        "trade_rate": 2.5,
        "funding": {"interval_bars": 4, "base_rate": 0.0001, "sensitivity": 0.1},
    },
}


def spec_with(**changes):
    spec = json.loads(json.dumps(SPEC))
    micro = changes.pop("micro", {})
    spec.update(changes)
    spec["microstructure"].update(micro)
    return spec


# The layout of one bar with funding, in both document shapes.
CANDLE = {"ts": -60, "open": 100.0, "high": 100.5, "low": 99.75, "close": 100.25, "volume": 1234.5}
BOOK = {"ts": -60, "bids": [{"price": 100.2, "qty": 5.5}], "asks": [{"price": None, "qty": 7.25}]}
TRADE = {"ts": -60, "seq": 0, "price": 100.26, "qty": 0.75, "side": "sell"}
FUNDING = {"ts": -60, "rate": 1.23e-06}
GROUPED = {"candles": [CANDLE], "book_snapshots": [BOOK], "trades": [TRADE], "funding": [FUNDING]}
STREAM = {
    "events": [
        {"type": "trade", "trade": TRADE},
        {"type": "book", "snapshot": BOOK},
        {"type": "candle", "candle": CANDLE},
        {"type": "funding", "sample": FUNDING},
    ]
}
EXPECTED_COLUMNS = {
    "candles": {k: [v] for k, v in CANDLE.items()},
    "trades": {k: [v] for k, v in TRADE.items()},
    "book": {
        "ts": [-60, -60],
        "side": ["bid", "ask"],
        "level": [0, 0],
        "price": [100.2, None],
        "qty": [5.5, 7.25],
    },
    "funding": {"ts": [-60], "rate": [1.23e-06]},
}


@pytest.mark.parametrize("doc", [GROUPED, STREAM, json.dumps(GROUPED), json.dumps(STREAM)])
def test_both_document_shapes_give_the_same_columns(doc):
    assert result_columns(doc) == EXPECTED_COLUMNS


@pytest.mark.parametrize(
    "doc, error",
    [
        ({"ok": False, "error": "bad spec: no spec set"}, qs.SynthError),
        ({"version": "0.2.0"}, ValueError),
        ({"events": [{"type": "tick", "tick": {}}]}, ValueError),
        ([1, 2], TypeError),
    ],
)
def test_documents_that_are_not_results_are_refused(doc, error):
    with pytest.raises(error):
        result_columns(doc)


def test_generate_accepts_dict_and_text_alike():
    grouped = qs.generate(SPEC)
    assert grouped == qs.generate(json.dumps(SPEC, indent=2))
    assert list(grouped) == ["candles", "book_snapshots", "trades", "funding"]
    assert [len(grouped[k]) for k in ("candles", "book_snapshots", "funding")] == [12, 12, 3]
    events = qs.generate(SPEC, stream=True)["events"]
    assert len(events) == len(grouped["trades"]) + 2 * 12 + 3


def test_generate_text_is_the_native_response():
    expected = qs.Synth(json.dumps(SPEC)).command('{"cmd":"generate_stream"}')
    assert qs.generate_text(SPEC, stream=True) == expected


GOOD = json.dumps(SPEC)


@pytest.mark.parametrize(
    "spec, message",
    [
        (spec_with(bars=0), "bad spec: bars must be > 0"),
        (spec_with(bars=13), "bad spec: sum of regime lengths must equal bars"),
        (spec_with(seed=-1), "parse: invalid value: integer `-1`, expected u64"),
        ({}, "parse: missing field `seed`"),
        ('{"bars":1}', "parse: missing field `seed` at line 1 column 10"),
        (
            '{"x":1}',
            "parse: unknown field `x`, expected one of `seed`, `bars`, `start_price`, "
            "`start_ts`, `bar_secs`, `regimes`, `microstructure` at line 1 column 4",
        ),
        ("", "parse: EOF while parsing a value at line 1 column 0"),
        (" \n\t", "parse: EOF while parsing a value at line 1 column 0"),
        ("{}", "parse: missing field `seed` at line 1 column 2"),
        ("\n {}\n", "parse: missing field `seed` at line 1 column 2"),
        (b"\xff{}", "spec text is not UTF-8 (byte 0xff at offset 0)"),
    ],
)
def test_rejected_specs_raise_the_rendered_error(spec, message):
    for call in (qs.generate, qs.validate):
        with pytest.raises(qs.SynthError) as info:
            call(spec)
        assert str(info.value) == message
        assert isinstance(info.value, ValueError)


def test_trailing_text_after_a_spec_is_reported_with_its_position():
    with pytest.raises(qs.SynthError, match=r"^parse: trailing characters at line 1 column \d+$"):
        qs.generate(GOOD + " 1")


def test_error_kind_and_detail():
    err = qs.SynthError("bad spec: bars must be > 0")
    assert (err.kind, err.detail) == ("bad spec", "bars must be > 0")
    assert qs.SynthError("something else").kind is None


def test_non_json_values_in_a_dict_spec_are_refused():
    with pytest.raises(qs.SynthError, match="not representable as JSON"):
        qs.generate(spec_with(start_price=math.nan))


def test_validate_accepts_a_good_spec_in_every_form():
    assert qs.validate(SPEC) is None
    assert qs.validate(GOOD) is None
    assert qs.validate(GOOD.encode()) is None


def test_to_pandas_round_trip():
    pd = pytest.importorskip("pandas")
    doc = qs.generate(SPEC)
    frames = qs.to_pandas(doc)
    assert {k: len(v) for k, v in frames.items()} == {
        "candles": 12,
        "trades": len(doc["trades"]),
        "book": 12 * 2 * 3,
        "funding": 3,
    }
    for frame in frames.values():
        assert isinstance(frame["ts"].dtype, pd.DatetimeTZDtype)
        assert str(frame["ts"].dtype.tz) == "UTC"
    candles, trades, book = frames["candles"], frames["trades"], frames["book"]
    assert candles["ts"].iloc[1] == pd.Timestamp(1710000060, unit="s", tz="UTC")
    assert candles["close"].dtype == "float64"
    assert candles["close"].tolist() == [c["close"] for c in doc["candles"]]
    assert trades["seq"].dtype == "uint64"
    assert trades["seq"].tolist() == list(range(len(doc["trades"])))
    assert list(trades["side"].cat.categories) == ["buy", "sell"]
    first = doc["book_snapshots"][0]
    assert book["side"].tolist()[:6] == ["bid"] * 3 + ["ask"] * 3
    assert book["level"].tolist()[:6] == [0, 1, 2, 0, 1, 2]
    assert book["price"].tolist()[:6] == [lv["price"] for lv in first["bids"] + first["asks"]]
    stream_frames = qs.to_pandas(qs.generate(SPEC, stream=True))
    for name, frame in frames.items():
        pd.testing.assert_frame_equal(frame, stream_frames[name])


def test_to_pandas_keeps_nulls_and_far_timestamps():
    pytest.importorskip("pandas")
    doc = {"candles": [dict(CANDLE, ts=-(2**62))], "book_snapshots": [BOOK], "trades": []}
    frames = qs.to_pandas(doc)
    assert math.isnan(frames["book"]["price"].iloc[1])
    assert frames["candles"]["ts"].iloc[0].year < -1000
    assert len(frames["funding"]) == 0 and list(frames["funding"]) == ["ts", "rate"]


def test_to_arrow_round_trip():
    pa = pytest.importorskip("pyarrow")
    doc = qs.generate(SPEC)
    tables = qs.to_arrow(doc)
    assert tables["book"].num_rows == 72 and tables["funding"].num_rows == 3
    assert tables["trades"].schema.field("seq").type == pa.uint64()
    assert tables["candles"].schema.field("ts").type == pa.timestamp("s", tz="UTC")
    assert tables["candles"].column("ts").cast(pa.int64()).to_pylist()[:2] == [
        1710000000,
        1710000060,
    ]
    assert tables["book"].column("side").to_pylist()[:4] == ["bid", "bid", "bid", "ask"]
    stream_tables = qs.to_arrow(qs.generate(SPEC, stream=True))
    assert all(tables[k].equals(stream_tables[k]) for k in tables)
    assert qs.to_arrow(GROUPED)["book"].column("price").null_count == 1


@pytest.mark.parametrize(
    "module, call, extra",
    [
        ("pandas", lambda: qs.to_pandas(GROUPED), "pandas"),
        ("pyarrow", lambda: qs.to_arrow(GROUPED), "arrow"),
        ("matplotlib", lambda: qs.plot(GROUPED), "plot"),
    ],
)
def test_a_missing_extra_is_named(monkeypatch, module, call, extra):
    for name in list(sys.modules):
        if name == module or name.startswith(module + "."):
            monkeypatch.delitem(sys.modules, name)
    monkeypatch.setitem(sys.modules, module, None)
    with pytest.raises(ImportError, match=rf'pip install "quarno_synth\[{extra}\]"'):
        call()


@pytest.mark.parametrize(
    "spec, spans",
    [
        (SPEC, [RegimeSpan("trend", 0, 5), RegimeSpan("crash", 5, 12)]),
        (
            [
                1,
                4,
                1.0,
                0,
                60,
                [["vol", 3, 0.0, 0.1], {"kind": {"range": None}, "len": 1}],
                [1, 0.0, 0.0],
            ],
            [RegimeSpan("vol", 0, 3), RegimeSpan("range", 3, 4)],
        ),
        ('{"regimes":[{"kind":"trend","len":2}]}', [RegimeSpan("trend", 0, 2)]),
    ],
)
def test_regime_spans_read_every_spec_form(spec, spans):
    assert regime_spans(spec) == spans


def test_plot_writes_a_png(tmp_path):
    pytest.importorskip("matplotlib")
    out = tmp_path / "chart.png"
    figure = qs.plot(qs.generate(SPEC), SPEC, out)
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    legend = figure.axes[0].get_legend()
    assert [t.get_text() for t in legend.get_texts()] == ["trend", "crash", "regime change"]


def test_every_packaged_example_is_listed():
    packaged = resources.files("quarno_synth").joinpath("examples")
    names = sorted(p.name for p in packaged.iterdir() if p.name.endswith(".json"))
    assert names == sorted(f"{e.name}.json" for e in qs.EXAMPLES)


@pytest.mark.parametrize("name", [e.name for e in qs.EXAMPLES])
def test_examples_are_valid_and_modest(name):
    open_run(qs.example_text(name))  # the extended reader: presets use garch, tails, jumps
    assert qs.example_spec(name)["bars"] <= 5040  # 20 years of daily bars
