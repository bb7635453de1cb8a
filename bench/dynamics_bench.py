"""Cost of the regime dynamics (garch, tails, jumps) against the same classic run.

Not a test. Run after installing the package:

    python bench/dynamics_bench.py [--repeats 7] [--bars 100000]

The shape of the JSON benchmark's first workload (100,000 bars, depth 1, no trades), one
regime, timed as the native run alone (one batch) and as ``generate_arrays``; each
extended row gives its time over the classic row's. Target: all three dynamics at most
1.5x the classic run. Times are the best of the repeats, wall clock.
"""

from __future__ import annotations

import argparse
import json
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import quarno_synth as qs
from quarno_synth._columns import Run

from bench import spec_json

MEMBERS = {
    "classic": {},
    "neutral members": {
        "garch": {"alpha": 0.0, "gamma": 0.0, "beta": 0.0},
        "jumps": {"rate": 0.0, "mean": 0.0, "vol": 0.0},
    },
    "garch": {"garch": {"alpha": 0.06, "gamma": 0.1, "beta": 0.88}},
    "tails": {"tails": {"df": 5.0}},
    "jumps": {"jumps": {"rate": 0.01, "mean": -0.02, "vol": 0.03}},
    "garch + tails + jumps": {
        "garch": {"alpha": 0.06, "gamma": 0.1, "beta": 0.88},
        "tails": {"df": 5.0},
        "jumps": {"rate": 0.01, "mean": -0.02, "vol": 0.03},
    },
}


def best_wall(repeats: int, fn) -> float:
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--bars", type=int, default=100_000)
    args = parser.parse_args()

    base = json.loads(spec_json(args.bars, 1, 0.0))
    rows = []
    reference: dict[str, float] = {}
    for name, members in MEMBERS.items():
        s = json.loads(json.dumps(base))
        s["regimes"][0].update(members)
        text = json.dumps(s)

        def native(text=text) -> None:
            run = Run(text)
            run.next_batch(run.bars)

        times = {
            "native run": best_wall(args.repeats, native),
            "generate_arrays": best_wall(args.repeats, lambda s=s: qs.generate_arrays(s)),
        }
        reference = reference or times
        cells = [f"{t * 1e3:.2f} ms ({t / reference[k]:.2f}x)" for k, t in times.items()]
        rows.append(f"| {name} | " + " | ".join(cells) + " |")
    print(f"{args.bars:,} bars, depth 1, no trades (best of {args.repeats})\n")
    print("| regime members | native run | generate_arrays |")
    print("|---|---|---|")
    print("\n".join(rows))


if __name__ == "__main__":
    main()
