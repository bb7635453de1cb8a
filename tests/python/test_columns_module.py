"""The columnar module: runs made batch by batch, their columns as buffers, errors and
interruptions, checked against the JSON document of the same spec."""

import _thread
import json
import math
import threading
import time

import pytest
from quarno_synth import SynthError, _columns, generate

SPEC = {
    "seed": 5,
    "bars": 23,
    "start_price": 100.0,
    "regimes": [
        {"kind": "trend", "len": 9, "drift": 0.001, "vol": 0.02},
        {"kind": "range", "len": 14, "drift": 0.3, "vol": 0.01},
    ],
    "microstructure": {
        "book_depth": 3,
        "spread_bps": 4.0,
        "trade_rate": 2.5,
        "funding": {"interval_bars": 4, "base_rate": 0.0001, "sensitivity": 0.2},
    },
}

# A spec whose book prices overflow (written null in the document, NaN in a batch).
OVERFLOW = dict(
    SPEC, start_price=1e300, regimes=[{"kind": "vol", "len": 23, "drift": 0, "vol": 0.01}]
)


def run_of(spec):
    return _columns.Run(json.dumps(spec), document=True)


def batches(spec, size):
    run = run_of(spec)
    out = []
    while (batch := run.next_batch(size)) is not None:
        out.append(batch)
    return out


def column(parts, name):
    return [value for batch in parts for value in memoryview(batch.column(name)).tolist()]


def same(got, want):
    """Equal lists, a NaN standing where the document has null."""
    assert len(got) == len(want)
    for a, b in zip(got, want):
        assert (b is None and math.isnan(a)) or a == b, (a, b)


@pytest.mark.parametrize("spec", [SPEC, OVERFLOW], ids=["mixed", "overflow"])
@pytest.mark.parametrize("size", [1, 7, 100])
def test_batches_hold_the_documents_values(spec, size):
    doc = generate(spec)
    parts = batches(spec, size)
    assert [b.first_bar for b in parts] == list(range(0, spec["bars"], size))
    candles = doc["candles"]
    for name in ("ts", "open", "high", "low", "close", "volume"):
        same(column(parts, name), [c[name] for c in candles])
    levels = [lv for s in doc["book_snapshots"] for side in ("bids", "asks") for lv in s[side]]
    same(column(parts, "level_price"), [lv["price"] for lv in levels])
    same(column(parts, "level_qty"), [lv["qty"] for lv in levels])
    trades = doc["trades"]
    for name in ("ts", "seq", "price", "qty"):
        same(column(parts, "trade_" + name), [t[name] for t in trades])
    assert column(parts, "trade_side") == [int(t["side"] == "sell") for t in trades]
    funding = doc.get("funding", [])
    same(column(parts, "funding_ts"), [f["ts"] for f in funding])
    same(column(parts, "funding_rate"), [f["rate"] for f in funding])


@pytest.mark.parametrize(
    "spec",
    [dict(SPEC, bars=0), dict(SPEC, seed=-1), dict(SPEC, regimes=[]), {"seed": 1}, [1, 2]],
)
def test_rejected_specs_raise_the_commands_text(spec):
    with pytest.raises(SynthError) as expected:
        generate(spec)
    with pytest.raises(SynthError) as got:
        run_of(spec)
    assert str(got.value) == str(expected.value)


@pytest.mark.parametrize(
    "text, message",
    [
        ("", "parse: EOF while parsing a value at line 1 column 0"),
        ("\u3000{}", "parse: missing field `seed` at line 1 column 2"),
        (json.dumps(SPEC) + " x", "parse: trailing characters at line 1 column "),
    ],
)
def test_spec_texts_are_read_with_positions(text, message):
    with pytest.raises(SynthError, match="^" + message):
        _columns.Run(text)


def test_a_numeric_failure_comes_after_the_batches_before_it():
    # The first regime is calm, the second overflows on its first bar.
    spec = dict(
        SPEC,
        bars=10,
        regimes=[
            {"kind": "vol", "len": 6, "drift": 0, "vol": 0.01},
            {"kind": "trend", "len": 4, "drift": 800, "vol": 0.01},
        ],
    )
    run = run_of(spec)
    assert run.next_batch(3).bars == 3
    assert run.next_batch(3).bars == 3
    for _ in range(2):
        with pytest.raises(SynthError, match="^numeric: price walk produced a non-finite value$"):
            run.next_batch(3)


def test_columns_are_typed_writable_buffers_that_keep_their_batch():
    run = run_of(SPEC)
    batch = run.next_batch(5)
    view = memoryview(batch.column("trade_seq"))
    del batch, run
    assert (view.format, view.itemsize, view.readonly, view.ndim) == ("Q", 8, False, 1)
    assert view.tolist() == list(range(len(view)))
    raw = memoryview(run_of(SPEC).next_batch(2).column("open")).cast("B")
    assert raw.nbytes == 16


def test_bad_arguments():
    run = run_of(SPEC)
    for bad in (0, -3):
        with pytest.raises(ValueError, match="max_bars must be at least 1"):
            run.next_batch(bad)
    batch = run.next_batch(1)
    with pytest.raises(KeyError):
        batch.column("price")
    with pytest.raises(ValueError, match="no table"):
        batch.csv("quotes")
    with pytest.raises(TypeError):
        _columns.Batch()


def test_a_run_ends_with_none_and_counts_its_bars():
    run = run_of(SPEC)
    assert (run.bars, run.book_depth, run.bars_done, run.bars_left) == (23, 3, 0, 23)
    run.next_batch(20)
    assert (run.bars_done, run.bars_left) == (20, 3)
    assert run.next_batch(20).bars == 3
    assert run.next_batch(20) is None


def test_runs_and_batches_too_large_for_memory_are_memory_errors():
    deep = dict(SPEC, microstructure=dict(SPEC["microstructure"], book_depth=10**15))
    with pytest.raises(MemoryError, match="book_depth 1000000000000000 needs more memory"):
        run_of(deep)
    bars = 10**13
    long = dict(SPEC, bars=bars, regimes=[{"kind": "vol", "len": bars, "drift": 0, "vol": 0.01}])
    run = run_of(long)
    with pytest.raises(MemoryError, match=f"^out of memory: a batch of {bars} bars"):
        run.next_batch(bars)
    assert run.next_batch(5).bars == 5  # nothing was drawn: the run goes on


LONG = dict(
    SPEC,
    bars=3_000_000,
    regimes=[{"kind": "vol", "len": 3_000_000, "drift": 0, "vol": 0.01}],
    microstructure={"book_depth": 1, "spread_bps": 1.0, "trade_rate": 0.0},
)


def test_one_run_refuses_a_second_thread_while_it_generates():
    run = run_of(LONG)
    started = threading.Event()
    outcome = {}

    def generate_all():
        started.set()
        outcome["bars"] = run.next_batch(10**9).bars

    worker = threading.Thread(target=generate_all)
    worker.start()
    started.wait()
    time.sleep(0.02)
    with pytest.raises(RuntimeError, match="^Run is already generating on another thread$"):
        run.next_batch(1)
    worker.join()
    assert outcome["bars"] == LONG["bars"]


def test_ctrl_c_stops_a_long_batch_and_ends_the_run():
    run = run_of(LONG)
    timer = threading.Timer(0.02, _thread.interrupt_main)
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        run.next_batch(10**9)
    timer.join()
    with pytest.raises(RuntimeError, match="^run was interrupted$"):
        run.next_batch(1)


def test_csv_rows_carry_the_documents_numbers():
    doc = generate(OVERFLOW)
    batch = run_of(OVERFLOW).next_batch(100)
    rows = [line.split(",") for line in batch.csv("book").decode().splitlines()]
    levels = [lv for s in doc["book_snapshots"] for side in ("bids", "asks") for lv in s[side]]
    assert len(rows) == len(levels)
    for row, level in zip(rows, levels):
        for cell, value in zip(row[3:], (level["price"], level["qty"])):
            assert cell == "" if value is None else float(cell) == value
    assert (
        _columns.csv_header("book_wide", 1) == b"ts,bid_price_0,bid_qty_0,ask_price_0,ask_qty_0\n"
    )
