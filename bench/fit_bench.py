"""Time of a fit, and the real-vs-synthetic targets on the S&P 500 and WTI.

Not a test. Needs the fit extra and the arch package (for its data):

    python bench/fit_bench.py [--repeats 3] [--seeds 20]

Prints the best wall time of fitting the 5,031 daily S&P 500 closes (target: 2 s), then for
the S&P 500 and WTI the real value of each target metric beside the mean and the 5-95 % range
of SEEDS runs of the fitted spec, and whether the target holds:
annualised vol within 10 %, mean excess kurtosis within 40 %, acf |r| lag 20 at least half the
real one, leverage (lag 1) with the real sign, the real maximum drawdown inside the 5-95 %.
"""

from __future__ import annotations

import argparse
import math
import time

import quarno_synth as qs

FIT_SECONDS = 2.0


def targets(table) -> dict[str, bool]:
    real, mean = table["real"], table["mean"]
    dd = table.loc["max_drawdown"]
    return {
        "annual_vol": abs(mean["annual_vol"] / real["annual_vol"] - 1.0) <= 0.10,
        "excess_kurtosis": abs(mean["excess_kurtosis"] / real["excess_kurtosis"] - 1.0) <= 0.40,
        "acf_abs_r_20": mean["acf_abs_r_20"] >= 0.5 * real["acf_abs_r_20"],
        "leverage_1": math.copysign(1.0, mean["leverage_1"])
        == math.copysign(1.0, real["leverage_1"]),
        "max_drawdown": dd["p05"] <= dd["real"] <= dd["p95"],
    }


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--seeds", type=int, default=20)
    args = parser.parse_args()
    from arch.data import sp500, wti

    series = {"S&P 500": sp500.load(), "WTI": wti.load()["DCOILWTICO"]}
    best = math.inf
    for _ in range(args.repeats):
        start = time.perf_counter()
        qs.fit(series["S&P 500"])
        best = min(best, time.perf_counter() - start)
    print(f"fit of {len(series['S&P 500'])} daily closes: {best:.2f} s (target {FIT_SECONDS} s)")
    ok = best <= FIT_SECONDS
    for name, data in series.items():
        spec, report = qs.fit(data)
        table = report.scorecard(args.seeds)
        held = targets(table)
        print(f"\n{name}: {len(report.states)} states, {len(spec['regimes'])} regimes")
        print(f"{'metric':<16}{'real':>10}{'mean':>10}{'p05':>10}{'p95':>10}  target")
        for metric, good in held.items():
            row = table.loc[metric]
            print(
                f"{metric:<16}{row['real']:>10.4g}{row['mean']:>10.4g}{row['p05']:>10.4g}"
                f"{row['p95']:>10.4g}  {'ok' if good else 'MISSED'}"
            )
        ok = ok and all(held.values())
    return 0 if ok else 1


if __name__ == "__main__":
    raise SystemExit(main())
