"""Fitting a spec to a real series: recovery of a known schedule, every input form giving the
same spec text, one-line errors for unusable data, chains, and the targets on real data."""

import json
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest
import quarno_synth as qs

pytest.importorskip("scipy")

KNOWN = {
    "seed": 11,
    "bars": 3000,
    "start_price": 100.0,
    "start_ts": 946684800,
    "bar_secs": 86400,
    "regimes": [
        {"kind": "trend", "len": 1500, "drift": 0.0006, "vol": 0.006},
        {"kind": "vol", "len": 600, "drift": 0.0, "vol": 0.025},
        {"kind": "trend", "len": 900, "drift": 0.0006, "vol": 0.006},
    ],
    "microstructure": {"book_depth": 2, "spread_bps": 1.0, "trade_rate": 0.0},
}


@pytest.fixture(scope="module")
def known_closes():
    candles = qs.generate_frames(KNOWN)["candles"]
    index = pd.to_datetime(candles["ts"], unit="s")
    return pd.DataFrame(
        {name.capitalize(): candles[name].to_numpy() for name in ("open", "high", "low", "close")},
        index=pd.DatetimeIndex(index, name="Date"),
    )


def test_recovers_a_known_schedule(known_closes):
    spec, report = qs.fit(known_closes, dynamics=False)
    assert [s["vol"] for s in report.states] == pytest.approx([0.006, 0.025], rel=0.1)
    # the turbulent stretch is found where it was (a few bars either side)
    turbulent = np.flatnonzero(report.timeline == 1)
    assert abs(turbulent[0] - 1500) <= 10 and abs(turbulent[-1] - 2099) <= 10
    assert report.states[0]["kind"] == "trend"
    assert spec["bar_secs"] == 86400 and spec["start_ts"] == 946684800
    assert spec["bars"] == len(known_closes) - 1
    # the fitted spec runs through the data entry points
    assert len(qs.generate_frames(spec)["candles"]) == spec["bars"]


def test_every_input_form_gives_the_same_spec_text(known_closes, tmp_path):
    from quarno_synth._fit.model import spec_text

    pl = pytest.importorskip("polars")
    frame = known_closes.iloc[:800]
    csv_path = tmp_path / "real.csv"
    frame.to_csv(csv_path)
    forms = [frame, csv_path, str(csv_path), pl.from_pandas(frame.reset_index())]
    try:
        frame.to_parquet(tmp_path / "real.parquet")
        forms.append(tmp_path / "real.parquet")
    except ImportError:
        pass
    texts = {spec_text(qs.fit(form)[0]) for form in forms}
    assert len(texts) == 1
    assert json.loads(texts.pop())["microstructure"]["spread_bps"] != 2.0  # from high and low
    # closes alone: the same regimes, the default spread
    assert spec_text(qs.fit(frame["Close"])[0]) == spec_text(qs.fit(frame[["Close"]])[0])


def _frame(close, dates=None):
    dates = pd.date_range("2020-01-01", periods=len(close)) if dates is None else dates
    return pd.DataFrame({"Close": close}, index=pd.DatetimeIndex(dates, name="Date"))


_GOOD = 100.0 * np.exp(np.cumsum(np.random.default_rng(0).normal(0.0, 0.01, 300)))
_DAYS = pd.date_range("2020-01-01", periods=300)


@pytest.mark.parametrize(
    "data, message",
    [
        (_frame(_GOOD[:50]), "too short: 50 prices, at least 100 needed"),
        (
            _frame(np.where(np.arange(300) == 7, -1.0, _GOOD)),
            "prices must be finite and > 0 (row 7",
        ),
        (pd.DataFrame({"open": _GOOD}), "no 'close' column (columns: open)"),
        (np.full(300, 5.0), "prices never change: there is nothing to fit"),
        (_frame(_GOOD, _DAYS[::-1]), "timestamps not sorted at row 1"),
        (_frame(_GOOD, _DAYS.where(np.arange(300) != 5, _DAYS[4])), "duplicate timestamp at row 5"),
    ],
)
def test_unusable_data_is_one_line_error(data, message):
    with pytest.raises(ValueError) as error:
        qs.fit(data)
    assert str(error.value).startswith(message) and "\n" not in str(error.value)


@pytest.mark.parametrize(
    "arguments, message",
    [
        ({"regimes": 5}, 'regimes must be "auto" or a number of states from 1 to 4, not 5'),
        ({"schedule": "loop"}, 'schedule must be "replay" or "chain", not \'loop\''),
        ({"bars": 10}, 'bars is for schedule="chain"; a replay has the data\'s length'),
        ({"seed": -1}, "seed must be an integer from 0 to 2**64 - 1, not -1"),
    ],
)
def test_bad_arguments_are_one_line_errors(arguments, message):
    with pytest.raises(ValueError) as error:
        qs.fit(_GOOD, **arguments)
    assert str(error.value) == message


def test_chain_of_one_state_equals_its_regime():
    state = {"kind": "range", "len": 1, "drift": 0.05, "vol": 0.01}
    chained = dict(KNOWN, regimes=[], chain={"states": [state], "transitions": [[1.0]]})
    plain = dict(KNOWN, regimes=[dict(state, len=KNOWN["bars"])])
    a, b = qs.generate_frames(chained), qs.generate_frames(plain)
    for table in a:
        pd.testing.assert_frame_equal(a[table], b[table])


def test_chain_schedule_draws_a_history_per_seed(known_closes):
    spec, _ = qs.fit(known_closes, dynamics=False, schedule="chain", bars=5000)
    assert spec["regimes"] == [] and spec["bars"] == 5000
    rows = spec["chain"]["transitions"]
    assert all(abs(sum(row) - 1.0) < 1e-12 for row in rows)
    first = qs.generate_frames(spec)["candles"]["close"]
    other = qs.generate_frames(dict(spec, seed=1))["candles"]["close"]
    assert len(first) == 5000 and not first.equals(other)


def test_cli_writes_the_spec_and_reports_bad_data_in_one_line(known_closes, tmp_path):
    pytest.importorskip("matplotlib")
    known_closes.iloc[:400].to_csv(tmp_path / "real.csv")
    out, chart = tmp_path / "spec.json", tmp_path / "fit.png"
    cli = [sys.executable, "-m", "quarno_synth", "fit"]
    done = subprocess.run(
        [*cli, str(tmp_path / "real.csv"), "-o", str(out), "--report", str(chart)],
        capture_output=True,
        text=True,
    )
    assert done.returncode == 0, done.stderr
    assert json.loads(out.read_text())["bars"] == 399 and chart.stat().st_size > 0
    chained = subprocess.run(
        [*cli, str(tmp_path / "real.csv"), "--schedule", "chain", "--bars", "1000"],
        capture_output=True,
        text=True,
    )
    assert chained.returncode == 0, chained.stderr
    assert json.loads(chained.stdout)["bars"] == 1000  # the spec on standard output
    pd.DataFrame({"price": [1.0] * 200}).to_csv(tmp_path / "bad.csv", index=False)
    bad = subprocess.run([*cli, str(tmp_path / "bad.csv")], capture_output=True, text=True)
    assert bad.returncode == 1
    assert bad.stderr.splitlines() == [
        f"quarno-synth: {tmp_path / 'bad.csv'}: no 'close' column (columns: price)"
    ]


def _real_series():
    arch_data = pytest.importorskip("arch.data")
    from arch.data import sp500, wti

    assert arch_data
    return {"sp500": sp500.load(), "wti": wti.load()["DCOILWTICO"]}


@pytest.mark.parametrize("name", ["sp500", "wti"])
def test_targets_on_real_series(name):
    data = _real_series()[name]
    _, report = qs.fit(data)
    table = report.scorecard(20)
    real, mean = table["real"], table["mean"]
    assert mean["annual_vol"] == pytest.approx(real["annual_vol"], rel=0.10)
    assert mean["excess_kurtosis"] == pytest.approx(real["excess_kurtosis"], rel=0.40)
    assert mean["acf_abs_r_20"] >= 0.5 * real["acf_abs_r_20"]
    assert np.sign(mean["leverage_1"]) == np.sign(real["leverage_1"])
    assert (
        table.loc["max_drawdown", "p05"] <= real["max_drawdown"] <= table.loc["max_drawdown", "p95"]
    )


def test_fit_universe_reproduces_the_cross_correlation():
    from quarno_synth.universe import cross_section, load_universe, make_universe

    real = cross_section(make_universe(4, "market", seed=3, bars=2520), "close")
    document, reports = qs.fit_universe(real, factors=1, dynamics=False)
    assert load_universe(document).symbols == tuple(real.columns) == tuple(reports)
    fitted = cross_section(document, "returns").to_numpy()
    want = np.corrcoef(np.diff(np.log(real.to_numpy()), axis=0), rowvar=False)
    got = np.corrcoef(fitted, rowvar=False)
    # a correlation of 2,519 returns has a standard error below 1 / sqrt(2519) = 0.02
    assert np.abs(got - want).max() < 0.08
