"""Charts of long runs: merged candles, made batch by batch in bounded memory."""

import importlib
import json
import subprocess
import sys

import pytest
import quarno_synth as qs

np = pytest.importorskip("numpy")
pytest.importorskip("matplotlib")
plotting = importlib.import_module("quarno_synth.plot")  # the module, not the function

SPEC = {
    "seed": 5,
    "bars": 95,
    "start_price": 80.0,
    "bar_secs": 3600,
    "regimes": [["trend", 40, 0.001, 0.01], ["vol", 55, 0.0, 0.03]],
    "microstructure": {
        "book_depth": 2,
        "spread_bps": 3.0,
        "trade_rate": 1.5,
        "funding": {"interval_bars": 4, "base_rate": 0.0001, "sensitivity": 0.2},
    },
}


def merged_by_hand(doc, per):
    """Candles of ``per`` bars each, and the mean funding rate of each, from the document."""
    candles = doc["candles"]
    groups = [candles[i : i + per] for i in range(0, len(candles), per)]
    rates = {}
    for point in doc["funding"]:
        bar = next(i for i, c in enumerate(candles) if c["ts"] == point["ts"])
        rates.setdefault(bar // per, []).append(point["rate"])
    return {
        "ts": [g[0]["ts"] for g in groups],
        "open": [g[0]["open"] for g in groups],
        "high": [max(c["high"] for c in g) for g in groups],
        "low": [min(c["low"] for c in g) for g in groups],
        "close": [g[-1]["close"] for g in groups],
        "volume": [sum(c["volume"] for c in g) for g in groups],
        "funding": [np.mean(rates[i]) if i in rates else None for i in range(len(groups))],
    }


def as_lists(merged):
    counts = merged.funding_count
    mean = np.divide(
        merged.funding_sum, counts, out=np.zeros_like(merged.funding_sum), where=counts > 0
    )
    return {
        "ts": merged.ts.tolist(),
        **{k: getattr(merged, k).tolist() for k in ("open", "high", "low", "close")},
        "volume": merged.volume.tolist(),
        "funding": [m if c else None for m, c in zip(mean.tolist(), counts.tolist())],
    }


@pytest.mark.parametrize("batch_bars", [1, 7, 10, 95])
def test_a_long_run_is_drawn_as_merged_candles(monkeypatch, batch_bars):
    monkeypatch.setattr(plotting, "MAX_CANDLES", 10)  # 95 bars: 10 candles of 10 bars
    doc = qs.generate(SPEC)
    want = merged_by_hand(doc, 10)
    from_run = as_lists(plotting._run_candles(np, SPEC, batch_bars))
    from_document = as_lists(plotting._document_candles(np, doc))
    for got in (from_run, from_document):
        assert got.keys() == want.keys()
        for key in want:
            assert got[key] == pytest.approx(want[key], rel=1e-12), key
    figure = qs.plot_run(SPEC, batch_bars=batch_bars)
    assert figure.axes[0].get_title() == "95 bars, 10 per candle"


def test_plot_run_draws_what_plot_draws():
    a = qs.plot_run(SPEC, title="t")
    b = qs.plot(qs.generate(SPEC), SPEC, title="t")
    for ax_a, ax_b in zip(a.axes, b.axes):
        assert ax_a.get_xlim() == ax_b.get_xlim() and ax_a.get_ylim() == ax_b.get_ylim()
        assert len(ax_a.collections) == len(ax_b.collections)


def test_the_cli_plots_a_long_run_in_bounded_memory(tmp_path):
    # three million bars: about 1.4 GB of columns at once, several times that as JSON
    long = dict(SPEC, bars=3_000_000, regimes=[["trend", 3_000_000, 0.0, 0.001]])
    (tmp_path / "long.json").write_text(json.dumps(long))
    measure = (
        "import resource, subprocess, sys\n"
        "done = subprocess.run([sys.executable, '-m', 'quarno_synth', 'plot', 'long.json',"
        " '-o', 'long.png'])\n"
        "print(done.returncode, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n"
    )
    out = subprocess.run(
        [sys.executable, "-c", measure], cwd=tmp_path, capture_output=True, text=True, timeout=300
    )
    status, peak_kib = map(int, out.stdout.split())
    assert status == 0, out.stderr
    assert peak_kib < 300 * 1024
    assert (tmp_path / "long.png").read_bytes()[:4] == b"\x89PNG"
