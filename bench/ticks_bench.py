"""Speed and peak memory of the tick model to Parquet, beside the classic trade stage.

Not a test. Run after installing the package with its Arrow extra:

    python bench/ticks_bench.py [--repeats 3]

Target: 1,000 one-minute bars with trade_rate 10,000 (10 million trades) written to Parquet
in at most 4 s and 500 MB peak. The classic row makes about as many trades with trade_rate
700 (near the classic count's ceiling) over 14,286 bars. Each row runs in a fresh
interpreter: wall time of the best repeat, and the growth of the peak resident size during
the call (imports excluded).
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
import textwrap

TICKS = {
    "seed": 7,
    "bars": 1000,
    "start_price": 100.0,
    "bar_secs": 60,
    "regimes": [{"kind": "trend", "len": 1000, "drift": 0.0, "vol": 0.001}],
    "microstructure": {
        "book_depth": 10,
        "spread_bps": 2.0,
        "trade_rate": 10000.0,
        "ticks": {"clustering": 0.0, "session": "flat"},
    },
}
CLASSIC = {
    "seed": 7,
    "bars": 14286,
    "start_price": 100.0,
    "bar_secs": 60,
    "regimes": [{"kind": "trend", "len": 14286, "drift": 0.0, "vol": 0.001}],
    "microstructure": {"book_depth": 10, "spread_bps": 2.0, "trade_rate": 700.0},
}

PROBE = textwrap.dedent(
    """
    import json, resource, sys, tempfile, time, warnings
    import pyarrow.parquet as pq
    import quarno_synth as qs
    warnings.simplefilter("ignore")
    spec, repeats = json.loads(sys.argv[1]), int(sys.argv[2])
    base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    best = float("inf")
    for _ in range(repeats):
        with tempfile.TemporaryDirectory() as out:
            start = time.perf_counter()
            qs.write_parquet(spec, out)
            best = min(best, time.perf_counter() - start)
            trades = pq.ParquetFile(out + "/trades.parquet").metadata.num_rows
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - base
    print(json.dumps({"seconds": best, "trades": trades, "peak_mb": peak / 1024}))
    """
)


def measure(spec: dict, repeats: int) -> dict:
    out = subprocess.run(
        [sys.executable, "-c", PROBE, json.dumps(spec), str(repeats)],
        check=True,
        capture_output=True,
        text=True,
    )
    return json.loads(out.stdout)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    print("| run | trades | seconds | trades/s | peak MB |")
    print("|---|---:|---:|---:|---:|")
    for name, spec in (("ticks, 1,000 bars x 10,000", TICKS), ("classic, 14,286 x 700", CLASSIC)):
        m = measure(spec, args.repeats)
        rate = m["trades"] / m["seconds"]
        print(
            f"| {name} | {m['trades']:,} | {m['seconds']:.2f} | {rate:,.0f} | {m['peak_mb']:.0f} |"
        )


if __name__ == "__main__":
    main()
