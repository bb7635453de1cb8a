"""The tick model: trades inside the bar that rebuild its candle exactly, on every surface."""

import json
import operator
import random
import warnings
from functools import reduce

import pytest
import quarno_synth as qs
from test_reference_walk import round8

np = pytest.importorskip("numpy")

TABLES = ("candles", "trades", "book", "funding")


def tick_spec(seed, bars, rate, clustering=0.0, session="flat", bar_secs=60, **micro):
    regimes = [
        {"kind": "trend", "len": bars // 2, "drift": 0.0002, "vol": 0.002},
        {"kind": "crash", "len": bars - bars // 2, "drift": 0.001, "vol": 0.004},
    ]
    micro = {"book_depth": 2, "spread_bps": 2.0, "trade_rate": rate,
             "funding": {"interval_bars": 5, "base_rate": 1e-5, "sensitivity": 0.5},
             "ticks": {"clustering": clustering, "session": session}, **micro}  # fmt: skip
    return {"seed": seed, "bars": bars, "start_price": 100.0, "start_ts": 1699999200,
            "bar_secs": bar_secs, "regimes": regimes, "microstructure": micro}  # fmt: skip


# Random tick specs: rates from none to thousands per bar, both sessions, any clustering.
_rng = random.Random(16)
SPECS = [
    tick_spec(_rng.randrange(2**64), _rng.randrange(2, 60), rate, round(_rng.random(), 3),
              _rng.choice(["flat", "u_shape"]), _rng.choice([1, 60, 3600, 86400]))
    for rate in (0.0, 0.2, 1.0, 3.0, 40.0, 2500.0)
]  # fmt: skip


def left_to_right(values):
    return reduce(operator.add, values, 0.0)


@pytest.mark.parametrize("spec", SPECS, ids=lambda s: f"rate{s['microstructure']['trade_rate']}")
def test_candles_are_the_aggregate_of_their_trades_in_every_batch_size(spec):
    pa = pytest.importorskip("pyarrow")
    whole = qs.generate_arrow(spec)
    for batch_bars in (1, 7):
        parts = list(qs.iter_batches(spec, batch_bars=batch_bars, arrow=True))
        for t in TABLES:
            split = pa.Table.from_batches([p[t] for p in parts], schema=whole[t].schema)
            assert split.equals(whole[t]), (batch_bars, t)
    whole = qs.generate_arrays(spec)
    c, tr, book = whole["candles"], whole["trades"], whole["book_levels"]
    bar_secs = spec["bar_secs"]
    assert np.array_equal(tr["seq"], np.arange(len(tr["seq"]), dtype=np.uint64))
    assert np.all(np.diff(tr["ts_ns"]) >= 0)
    assert np.all(tr["ts_ns"] >= tr["ts"] * 10**9)
    assert np.all(tr["ts_ns"] < (tr["ts"] + bar_secs) * 10**9)
    assert np.array_equal(book["ts"], c["ts"] + bar_secs)
    bounds = np.searchsorted(tr["ts"], np.append(c["ts"], c["ts"][-1] + 1))
    previous = round8(100.0)
    for j in range(len(c["ts"])):
        prices = tr["price"][bounds[j] : bounds[j + 1]]
        qty = tr["qty"][bounds[j] : bounds[j + 1]]
        if len(prices):
            want = (prices[0], prices.max(), prices.min(), prices[-1], round8(left_to_right(qty)))
        else:  # no trades: flat at the previous close
            want = (previous, previous, previous, previous, 0.0)
        assert tuple(c[k][j] for k in ("open", "high", "low", "close", "volume")) == want, j
        previous = c["close"][j]
        # the last trade sits at the touch of the snapshot taken after it
        assert book["bid_price"][j, 0] <= c["close"][j] <= book["ask_price"][j, 0]


def test_the_walk_the_book_quantities_and_funding_are_those_of_the_classic_run():
    spec = SPECS[4]
    classic = json.loads(json.dumps(spec))
    del classic["microstructure"]["ticks"]
    classic["microstructure"]["trade_rate"] = 0.0
    ticks, plain = qs.generate_arrays(spec), qs.generate_arrays(classic)
    assert np.array_equal(ticks["book"]["qty"], plain["book"]["qty"])
    assert ticks["funding"]["rate"].tobytes() == plain["funding"]["rate"].tobytes()
    traded = np.isin(ticks["candles"]["ts"], ticks["trades"]["ts"])
    assert traded.sum() > len(traded) // 2
    assert np.array_equal(ticks["candles"]["close"][traded], plain["candles"]["close"][traded])


def test_every_surface_carries_ts_ns(tmp_path):
    pytest.importorskip("pyarrow")
    spec = SPECS[3]
    want = qs.generate_arrays(spec)["trades"]["ts_ns"]
    frames = qs.generate_frames(spec)
    assert list(frames["trades"].columns) == ["ts", "ts_ns", "seq", "price", "qty", "side"]
    naive = frames["trades"]["ts_ns"].dt.tz_localize(None).to_numpy()
    assert np.array_equal(naive.view("int64"), want)
    qs.write_csv(spec, tmp_path / "csv")
    lines = (tmp_path / "csv" / "trades.csv").read_text().splitlines()
    assert lines[0] == "ts,ts_ns,seq,price,qty,side"
    assert [int(line.split(",")[1]) for line in lines[1:]] == want.tolist()
    qs.write_parquet(spec, tmp_path / "pq")
    import pyarrow.parquet as pq

    got = pq.read_table(tmp_path / "pq" / "trades.parquet").column("ts_ns")
    assert str(got.type) == "timestamp[ns, tz=UTC]"
    assert got.to_numpy().view("int64").tolist() == want.tolist()


def test_index_ts_gives_candles_a_utc_datetime_index_with_the_bar_as_freq():
    pd = pytest.importorskip("pandas")
    classic = dict(SPECS[4], microstructure={"book_depth": 2, "spread_bps": 2.0, "trade_rate": 3.0})
    for spec in (SPECS[4], classic):
        frames = qs.generate_frames(spec, index="ts")
        candles = frames["candles"]
        assert isinstance(candles.index, pd.DatetimeIndex)
        assert str(candles.index.tz) == "UTC"
        assert candles.index.freq == pd.Timedelta(seconds=spec["bar_secs"])
        assert list(candles.columns) == ["open", "high", "low", "close", "volume"]
        ticks = "ticks" in spec["microstructure"]
        assert frames["trades"].index.name == ("ts_ns" if ticks else "ts")
    titled = qs.generate_frames(spec, index="ts", titled=True)["candles"]
    assert list(titled.columns) == ["Open", "High", "Low", "Close", "Volume"]
    with pytest.raises(ValueError, match='index must be None or "ts"'):
        qs.generate_frames(spec, index="time")


RANGE = "bad spec: microstructure.ticks: clustering must be between 0 and 1"
BAD = [
    ({"clustering": 1.5, "session": "flat"}, RANGE),
    ({"clustering": -0.1, "session": "flat"}, RANGE),
    ({"clustering": 0.1, "session": "u"},
     "parse: unknown variant `u`, expected one of `flat`, `u_shape`"),
    ({"clustering": 0.1}, "parse: missing field `session`"),
]  # fmt: skip


@pytest.mark.parametrize("ticks, message", BAD)
def test_bad_ticks_are_named_with_their_path(ticks, message):
    spec = tick_spec(1, 4, 1.0)
    spec["microstructure"]["ticks"] = ticks
    for form in (spec, json.dumps(spec)):  # a document, and a text (errors with positions)
        with pytest.raises(qs.SynthError) as info:
            qs.generate_arrays(form)
        assert str(info.value).split(" at line ")[0] == message


def test_ticks_are_extension_only_and_bar_times_must_fit_in_nanoseconds():
    with pytest.raises(qs.SynthError, match="^parse: unknown field `ticks`, expected one of "
                       "`book_depth`, `spread_bps`, `trade_rate`, `funding`$"):  # fmt: skip
        qs.generate(SPECS[0])
    late = dict(SPECS[0], start_ts=9_300_000_000)  # past 2262
    with pytest.raises(qs.SynthError, match="^bad spec: microstructure.ticks: start_ts \\+ bars"):
        qs.generate_arrays(late)


@pytest.mark.parametrize("rate, warns", [(700.0, False), (700.5, True)])
def test_a_classic_rate_above_700_warns_and_points_at_ticks(rate, warns, capsys, tmp_path):
    from quarno_synth.cli import main

    spec = json.loads(json.dumps(SPECS[0]))
    del spec["microstructure"]["ticks"]
    spec["microstructure"]["trade_rate"] = rate
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        qs.validate(spec)
    assert [str(w.message).count('"ticks"') for w in caught] == ([1] if warns else [])
    path = tmp_path / "s.json"
    path.write_text(json.dumps(spec))
    assert main(["validate", str(path)]) == 0
    err = capsys.readouterr().err
    assert err.count("\n") == warns and err.startswith("quarno-synth: warning: " if warns else "")
