"""The stylized-facts scorecard on series whose answers are known, and its CLI."""

import math
import subprocess
import sys

import pytest
import quarno_synth as qs

np = pytest.importorskip("numpy")
facts = pytest.importorskip("quarno_synth.facts")


def prices(returns):
    return 100.0 * np.exp(np.concatenate([[0.0], np.cumsum(returns)]))


def gjr(rng, paths, bars, alpha, gamma, beta):
    """Unit-variance GJR-GARCH(1,1) returns with normal innovations, one column per path."""
    z = rng.standard_normal((bars, paths))
    out = np.empty_like(z)
    variance, shock = np.ones(paths), np.zeros(paths)
    for t in range(bars):
        variance = (
            (1 - alpha - gamma / 2 - beta)
            + (alpha + gamma * (shock < 0)) * shock * shock
            + beta * variance
        )
        out[t] = shock = np.sqrt(variance) * z[t]
    return out


def test_iid_normal_has_no_facts():
    n = 40_000
    m = facts.score(prices(0.01 * np.random.default_rng(11).standard_normal(n))).metrics
    bound = 5 / math.sqrt(n)  # sample acf and correlations spread as 1/sqrt(n)
    assert abs(m["excess_kurtosis"]) < 5 * math.sqrt(24 / n)
    assert abs(m["skew"]) < 5 * math.sqrt(6 / n)
    for name in ["acf_r_1", *(f"acf_abs_r_{k}" for k in facts.ACF_LAGS)]:
        assert abs(m[name]) < bound, name
    for k in facts.LEVERAGE_LAGS:
        assert abs(m[f"leverage_{k}"]) < bound
    for bars in facts.AGGREGATIONS:
        assert abs(m[f"agg_kurtosis_{bars}"]) < 5 * math.sqrt(24 / (n // bars))


def test_gjr_garch_clusters_with_known_kurtosis_and_leverage():
    alpha, gamma, beta, paths = 0.05, 0.10, 0.80, 20
    r = gjr(np.random.default_rng(5), paths, 20_000, alpha, gamma, beta)
    scores = [facts.score(prices(0.01 * r[:, i])).metrics for i in range(paths)]

    def mean_and_error(name):
        values = np.array([s[name] for s in scores])
        return values.mean(), values.std(ddof=1) / math.sqrt(paths)

    # E[(a z^2 + b)^2] with a = alpha + gamma [z < 0], normal z
    p = alpha + gamma / 2 + beta
    m2 = beta**2 + 2 * beta * (alpha + gamma / 2) + 3 * alpha**2 + 3 * alpha * gamma
    m2 += 1.5 * gamma**2
    kurtosis, error = mean_and_error("excess_kurtosis")
    assert abs(kurtosis - 3 * (m2 - p * p) / (1 - m2)) < 4 * error
    acf1, error = mean_and_error("acf_abs_r_1")
    assert acf1 > 10 * error and acf1 > mean_and_error("acf_abs_r_10")[0] > 0
    lev, error = mean_and_error("leverage_1")
    assert lev < -4 * error


@pytest.mark.parametrize("df", [3, 4])
def test_hill_index_of_student_t_is_its_degrees_of_freedom(df):
    n = 200_000
    hill = facts.score(prices(0.01 * np.random.default_rng(df).standard_t(df, n))).metrics
    k = n // 100
    # the asymptotic spread is alpha / sqrt(k); the t law's second-order bias is below 10 %
    assert abs(hill["hill_1"] - df) < 0.1 * df + 4 * df / math.sqrt(k)


def test_gain_loss_bars_follow_their_definition():
    closes = [100.0, 102.0, 105.5, 100.0, 94.5, 96.0]
    # +5 %: only from 100 (bar 0) to 105.5, 2 bars; -5 %: from bars 0, 1, 2, 3 in 4, 3, 1, 1
    assert facts.gain_loss_bars(np.array(closes)) == (2.0, 2.25)


def test_first_passage_equals_the_direct_search():
    level = np.cumsum(np.random.default_rng(3).standard_normal(400))
    direct = [
        next((j - t for j in range(t + 1, len(level)) if level[j] >= level[t] + 2.0), -1)
        for t in range(len(level))
    ]
    assert facts.first_passage(level, 2.0).tolist() == direct


SPEC = {
    "seed": 3,
    "bars": 600,
    "start_price": 50.0,
    "regimes": [
        {"kind": "trend", "len": 300, "drift": 0.0005, "vol": 0.01},
        {"kind": "crash", "len": 300, "drift": 0.001, "vol": 0.02},
    ],
    "microstructure": {"book_depth": 1, "spread_bps": 2.0, "trade_rate": 2.0},
}


def test_every_input_form_and_spec_runs_score_alike():
    pytest.importorskip("pandas")
    pytest.importorskip("pyarrow")
    seeds = [3, 9]
    candles = [qs.generate_frames(dict(SPEC, seed=s))["candles"] for s in seeds]
    for closes, frame in zip(facts.spec_closes(SPEC, seeds), candles):
        assert np.array_equal(closes, frame["close"].to_numpy())
    expected = facts.scorecard(candles[0]["close"].to_numpy())
    for form in (
        candles[0],
        candles[0]["close"],
        candles[0]["close"].tolist(),
        qs.generate_arrow(SPEC)["candles"],
        qs.generate_frames(SPEC),
        qs.generate_arrays(SPEC),
    ):
        assert facts.scorecard(form).equals(expected)
    table = facts.compare(candles[0], facts.score_spec(str(qs._json.dumps(SPEC)), "3:10:6"))
    assert list(table.columns) == ["real", "mean", "std", "p05", "p95"]
    assert table["real"].equals(expected["value"].rename("real"))
    mean = (expected["value"] + facts.scorecard(candles[1])["value"]) / 2
    assert np.allclose(table["mean"], mean, equal_nan=True, rtol=1e-12)


@pytest.mark.parametrize(
    "data, message",
    [
        ([100.0, 101.0], "at least 3"),
        ([100.0, 0.0, 101.0], "row 1 is 0.0"),
        ([100.0, float("nan"), 101.0], "row 1 is nan"),
        ([[1.0, 2.0]] * 3, "one-dimensional"),
        ({"open": [1.0] * 4}, "no close column"),
    ],
)
def test_unusable_closes_are_one_line_errors(data, message):
    if isinstance(data, dict):
        data = pytest.importorskip("pandas").DataFrame(data)
    with pytest.raises(ValueError, match=message):
        facts.scorecard(data)


def test_cli_scores_a_spec_beside_a_file_and_draws_it(tmp_path):
    pytest.importorskip("matplotlib")
    real = tmp_path / "real.csv"
    closes = prices(0.01 * np.random.default_rng(2).standard_normal(300))
    real.write_text("Date,CLOSE\n" + "".join(f"d{i},{float(c)!r}\n" for i, c in enumerate(closes)))
    spec = tmp_path / "spec.json"
    spec.write_text(qs._json.dumps(SPEC))
    cli = [sys.executable, "-m", "quarno_synth", "facts"]
    done = subprocess.run(
        [
            *cli,
            str(spec),
            "--seeds",
            "0:3",
            "--against",
            str(real),
            "--plot",
            str(tmp_path / "f.png"),
        ],
        capture_output=True,
        timeout=120,
    )
    assert done.returncode == 0, done.stderr
    lines = done.stdout.decode().splitlines()
    assert lines[0].split() == ["metric", "real", "mean", "std", "p05", "p95"]
    assert [line.split()[0] for line in lines[1:]] == list(facts.METRICS)
    assert (tmp_path / "f.png").stat().st_size > 0
    done = subprocess.run([*cli, str(real), "--seeds", "0:3"], capture_output=True, timeout=60)
    assert (done.returncode, done.stderr.decode().count("\n")) == (2, 1)


def test_sp500_scorecard_matches_the_published_facts():
    sp500 = pytest.importorskip("arch.data.sp500")
    m = facts.scorecard(sp500.load())["value"]
    published = {
        "excess_kurtosis": 8.2,
        "acf_abs_r_50": 0.17,
        "acf_abs_r_decay": 0.30,
        "leverage_1": -0.125,
        "hill_2.5": 3.4,
    }
    for name, value in published.items():
        assert m[name] == pytest.approx(value, abs=0.01 + 0.01 * abs(value)), name
