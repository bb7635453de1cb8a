"""The stylized facts of a realistic preset over many seeds, beside the real S&P 500, and the
preset's targets.

Not a test. Run after installing the package (numpy; arch for the real series):

    python bench/facts_bench.py [--example equity_index_daily] [--seeds 0:20] [--markdown]

The real column is the scorecard of the daily S&P 500 closes 1999-2018 shipped by the `arch`
package when it is installed, else the published values of five of its metrics. For
equity_index_daily the targets below are checked on the seed means; the exit status is 1 when
one is missed.
"""

from __future__ import annotations

import argparse
import math
import sys
import time

from quarno_synth import example_spec, facts
from quarno_synth.cli.facts import format_table

# Daily S&P 500 1999-2018 (5,030 log returns), when the arch package is not installed.
KNOWN_SP500 = {
    "excess_kurtosis": 8.2,
    "acf_abs_r_50": 0.17,
    "acf_abs_r_decay": 0.30,
    "leverage_1": -0.125,
    "hill_2.5": 3.4,
}

# metric -> (lowest, highest) allowed for the mean over the seeds
TARGETS = {
    "equity_index_daily": {
        "excess_kurtosis": (6.0, 12.0),
        "acf_abs_r_50": (0.10, math.inf),
        "acf_abs_r_decay": (-math.inf, 0.5),
        "leverage_1": (-math.inf, -0.06),
        "hill_2.5": (2.5, 4.5),
        "acf_r_1": (-0.05, 0.05),
    }
}


def real_sp500() -> tuple[list[float], str]:
    try:
        from arch.data import sp500
    except ImportError:
        values = [KNOWN_SP500.get(m, math.nan) for m in facts.METRICS]
        return values, "published values (arch not installed)"
    metrics = facts.score(sp500.load()).metrics
    return [metrics[m] for m in facts.METRICS], "arch.data.sp500"


def markdown(columns: dict[str, list[float]]) -> str:
    names = list(columns)
    lines = ["| metric | " + " | ".join(names) + " |", "|---" * (len(names) + 1) + "|"]
    for i, metric in enumerate(facts.METRICS):
        cells = ["" if math.isnan(columns[n][i]) else f"{columns[n][i]:.3f}" for n in names]
        lines.append(f"| {metric} | " + " | ".join(cells) + " |")
    return "\n".join(lines) + "\n"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--example", default="equity_index_daily")
    parser.add_argument("--seeds", default="0:20")
    parser.add_argument("--markdown", action="store_true", help="print a Markdown table")
    args = parser.parse_args()

    started = time.perf_counter()
    scores = facts.score_spec(example_spec(args.example), args.seeds)
    elapsed = time.perf_counter() - started
    real, source = real_sp500()
    columns = {"sp500": real, **facts.spread(scores)}
    print(f"{args.example}: {len(scores)} seeds in {elapsed:.1f} s; real: {source}")
    print(markdown(columns) if args.markdown else format_table(columns))

    missed = 0
    mean = dict(zip(facts.METRICS, columns["mean"]))
    for metric, (low, high) in TARGETS.get(args.example, {}).items():
        ok = low <= mean[metric] <= high
        missed += not ok
        bounds = f"[{low:g}, {high:g}]"
        print(f"{'ok  ' if ok else 'MISS'} {metric:<16} mean {mean[metric]:8.4f} in {bounds}")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
