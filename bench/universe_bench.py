"""Speed of universes: 500 assets x 2,520 daily bars (depth 1, no trades), printed as Markdown.

Not a test. Run after installing the package with its extras:

    python bench/universe_bench.py [--repeats 3] [--assets 500] [--bars 2520]

Rows: the universe document read and expanded; spec to Arrow tables on one thread and on
every core; spec to a Parquet dataset partitioned by symbol; the wide cross-section of
closes. Times are the best of the repeats, wall clock, warm (the factor path and imports are
made once before timing). The peer anchor (another library's 500 stocks x 10 years, measured
on this machine class at 1.25 s warm, without its Parquet write) is quoted, never installed.
"""

from __future__ import annotations

import argparse
import os
import platform
import shutil
import tempfile
import time

import quarno_synth as qs
from quarno_synth.universe import cross_section, load_universe, universe_arrow
from quarno_synth.universe.files import write_universe

PEER_SECONDS = 1.25


def best(repeats: int, call) -> tuple[float, float]:
    """Best wall time and best CPU time of the process (all threads) over the repeats; on a
    shared machine the CPU time shows the work when the wall time shows the queue."""
    walls, cpus = [], []
    for _ in range(repeats):
        start, cpu = time.perf_counter(), time.process_time()
        call()
        walls.append(time.perf_counter() - start)
        cpus.append(time.process_time() - cpu)
    return min(walls), min(cpus)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--assets", type=int, default=500)
    parser.add_argument("--bars", type=int, default=2520)
    args = parser.parse_args()

    doc = qs.make_universe(args.assets, "market,sector:10", seed=1, bars=args.bars)
    universe = load_universe(doc)
    universe_arrow(universe)  # warm: imports, factor path, allocator
    cores = os.cpu_count() or 1
    rows = args.assets * args.bars
    out = tempfile.mkdtemp(prefix="universe-bench-")

    def parquet() -> None:
        shutil.rmtree(out, ignore_errors=True)
        write_universe(universe, out, "parquet")

    one = best(args.repeats, lambda: universe_arrow(universe, threads=1))
    every = best(args.repeats, lambda: universe_arrow(universe, threads=cores))
    results = [
        ("read and expand the document", best(args.repeats, lambda: load_universe(doc))),
        ("spec -> Arrow tables, 1 thread", one),
        (f"spec -> Arrow tables, {cores} threads", every),
        ("spec -> Parquet dataset (by symbol)", best(args.repeats, parquet)),
        ("cross_section of closes (pandas)", best(args.repeats, lambda: cross_section(universe))),
    ]
    shutil.rmtree(out, ignore_errors=True)
    print(f"{args.assets} assets x {args.bars:,} bars ({rows:,} candle rows), depth 1, no trades;")
    print(f"{platform.python_implementation()} {platform.python_version()}, {cores} cores\n")
    print("| step | wall s | cpu s |")
    print("|---|---:|---:|")
    for name, (wall, cpu) in results:
        print(f"| {name} | {wall:.3f} | {cpu:.3f} |")
    print(
        f"\n{cores} threads vs 1 (wall): {one[0] / every[0]:.2f}x; Arrow tables vs the peer's "
        f"{PEER_SECONDS} s: {PEER_SECONDS / every[0]:.1f}x faster"
    )


if __name__ == "__main__":
    main()
