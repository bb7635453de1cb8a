"""Throughput of sweeps with 1 and 2 workers, and the overhead a sweep adds per run.

Not a test. Run after installing the package with the arrow and cluster extras:

    python bench/sweep_bench.py [--seeds 64] [--repeats 1] [--small-seeds 1000] [--small-repeats 3]

Large runs: SEEDS seeds of 20,000 bars x book depth 20 x trade rate 5, written as Parquet;
runs per second with 1 and 2 workers, on a process pool and on a Dask LocalCluster (one
thread per worker process). The pool and the cluster are started once per worker count
and reused, as a user sweeping repeatedly would.

Small runs: SMALL_SEEDS seeds of 100 bars (same depth and rate). The cost of a run made
directly with ``writers.write_tables`` in this process is the baseline; the overhead per run
is the sweep's wall time times its workers, divided by the runs, minus that baseline (task
shipping, partition directories, digests, the manifest).

Times are wall clock (the workers are other processes), the best of the repeats; on a shared
machine the other work shows directly in them, so run it when the machine is quiet.
"""

from __future__ import annotations

import argparse
import concurrent.futures as cf
import json
import os
import platform
import shutil
import sys
import tempfile
import time
from pathlib import Path

from quarno_synth import __version__, sweep
from quarno_synth.columns import TABLES


def spec(bars: int) -> dict:
    return {
        "seed": 0,
        "bars": bars,
        "start_price": 100.0,
        "regimes": [{"kind": "vol", "len": bars, "drift": 0.0, "vol": 0.01}],
        "microstructure": {
            "book_depth": 20,
            "spread_bps": 5.0,
            "trade_rate": 5.0,
            "funding": {"interval_bars": 8, "base_rate": 0.0001, "sensitivity": 0.01},
        },
    }


def timed_sweep(scratch: Path, bars: int, seeds: int, repeats: int, **where) -> float:
    """Best wall time of a sweep into a fresh directory."""
    best = float("inf")
    for attempt in range(repeats):
        out = scratch / f"run{attempt}"
        started = time.perf_counter()
        sweep.generate_dataset(spec(bars), seeds=range(seeds), path=out, **where)
        best = min(best, time.perf_counter() - started)
        shutil.rmtree(out)
    return best


def direct_per_run(scratch: Path, bars: int, seeds: int, repeats: int) -> float:
    """Seconds per run of write_tables alone, in this process."""
    write_tables = sweep._writer()
    best = float("inf")
    for attempt in range(repeats):
        out = scratch / f"direct{attempt}"
        out.mkdir()
        started = time.perf_counter()
        for seed in range(seeds):
            paths = {table: out / f"{table}-{seed}.parquet" for table in TABLES}
            write_tables(json.dumps(dict(spec(bars), seed=seed)), paths, "parquet")
        best = min(best, time.perf_counter() - started)
        shutil.rmtree(out)
    return best / seeds


def warm(executor: cf.Executor, scratch: Path, workers: int) -> None:
    # start every worker and import the package there before the clock runs
    sweep.generate_dataset(
        spec(10), seeds=range(4 * workers), path=scratch / "warm", executor=executor
    )
    shutil.rmtree(scratch / "warm")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seeds", type=int, default=64)
    parser.add_argument("--small-seeds", type=int, default=1000)
    parser.add_argument("--repeats", type=int, default=1, help="of the large sweeps")
    parser.add_argument("--small-repeats", type=int, default=3, help="of the small sweeps")
    parser.add_argument("--no-cluster", action="store_true", help="skip the Dask LocalCluster")
    args = parser.parse_args()

    print(
        f"quarno_synth {__version__}, Python {platform.python_version()}, "
        f"{os.cpu_count()} logical CPUs"
    )
    rows = []
    with tempfile.TemporaryDirectory(prefix="sweep-bench-") as name:
        scratch = Path(name)
        base = direct_per_run(scratch, 100, args.small_seeds, args.small_repeats)
        large = direct_per_run(scratch, 20_000, 2, 1)
        print(
            f"write_tables alone: {large * 1e3:.0f} ms per large run, "
            f"{base * 1e3:.2f} ms per small run"
        )
        backends = [("process pool", sweep.process_pool)]
        if not args.no_cluster:
            backends.append(("Dask LocalCluster", None))
        for label, make in backends:
            for workers in (1, 2):
                if make is not None:
                    executor = make(workers)
                    closer = executor.shutdown
                else:
                    import distributed

                    cluster = distributed.LocalCluster(
                        n_workers=workers,
                        threads_per_worker=1,
                        processes=True,
                        dashboard_address=None,
                    )
                    client = distributed.Client(cluster)
                    executor = client.get_executor(pure=False)

                    def closer(client=client, cluster=cluster):
                        client.close()
                        cluster.close()

                try:
                    warm(executor, scratch, workers)
                    big = timed_sweep(scratch, 20_000, args.seeds, args.repeats, executor=executor)
                    small = timed_sweep(
                        scratch, 100, args.small_seeds, args.small_repeats, executor=executor
                    )
                finally:
                    closer()
                overhead = small * workers / args.small_seeds - base
                rows.append((label, workers, args.seeds / big, args.small_seeds / small, overhead))
                print(
                    f"{label}, {workers} worker(s): {args.seeds / big:.2f} large runs/s, "
                    f"{args.small_seeds / small:.0f} small runs/s, "
                    f"overhead {overhead * 1e3:.2f} ms per small run",
                    flush=True,
                )

    print()
    print("| executor | workers | large runs/s | speed-up | small runs/s | overhead per run |")
    print("|---|---|---|---|---|---|")
    one = {}
    for label, workers, big, small, overhead in rows:
        one.setdefault(label, big)
        print(
            f"| {label} | {workers} | {big:.2f} | {big / one[label]:.2f}x | {small:,.0f} "
            f"| {overhead * 1e3:.2f} ms |"
        )
    return 0


if __name__ == "__main__":
    sys.exit(main())
