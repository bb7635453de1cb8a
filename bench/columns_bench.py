"""Speed and peak memory of the columnar path, printed as Markdown tables.

Not a test. Run after installing the package with its extras (``pip install ".[all]"``):

    python bench/columns_bench.py [--repeats 5] [--skip-long]

For each workload: spec to numpy arrays, to DataFrames and to Arrow tables, beside
``to_pandas(generate(spec))`` (the JSON document) and the vectorized numpy peer
(bench/numpy_peer.py). Then spec to Parquet for 200,000 bars x depth 20 x rate 5, a
20,000,000-bar run (depth 5, rate 2) to Parquet, two threads generating two runs against
one thread, and the JSON command. Times are the best of the repeats, wall clock, in one
process; peak memory is measured in a fresh interpreter per row (growth of the peak
resident size during the call, imports excluded).
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import subprocess
import sys
import tempfile
import textwrap
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from bench import WORKLOADS, spec_json  # noqa: E402  (the JSON benchmark's workloads)


def spec(bars: int, depth: int, rate: float, seed: int = 42) -> dict:
    return json.loads(spec_json(bars, depth, rate, seed))


# Each entry: the statement run for one workload; `qs`, `spec` and `peer_frames` are in scope.
PATHS = {
    "numpy arrays": "qs.generate_arrays(spec)",
    "DataFrames": "qs.generate_frames(spec)",
    "Arrow tables": "qs.generate_arrow(spec)",
    "to_pandas(generate(spec))": "qs.to_pandas(qs.generate(spec))",
    "numpy peer (DataFrames)": "peer_frames(spec['bars'], spec['microstructure']['book_depth'], "
    "spec['microstructure']['trade_rate'])",
}


def best_wall(repeats: int, fn) -> float:
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


PEAK_PROBE = textwrap.dedent(
    """
    import json, sys
    sys.path.insert(0, {here!r})
    import quarno_synth as qs
    import numpy, pandas, pyarrow, pyarrow.parquet
    from numpy_peer import peer_frames
    spec = json.loads({spec!r})
    def status(key):
        for line in open("/proc/self/status"):
            if line.startswith(key):
                return int(line.split()[1]) * 1024
    {setup}
    before = status("VmRSS:")
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # resets the peak to the current size
    result = {statement}
    print(status("VmHWM:") - before)
    """
)


def peak_bytes(statement: str, spec_obj: dict, setup: str = "") -> int:
    code = PEAK_PROBE.format(
        here=str(HERE), spec=json.dumps(spec_obj), statement=statement, setup=setup
    )
    out = subprocess.run([sys.executable, "-c", code], check=True, capture_output=True, text=True)
    return int(out.stdout.strip().splitlines()[-1])


def mb(n: float) -> str:
    return f"{n / 1e6:,.0f} MB"


def table(header: list[str], rows: list[list[str]]) -> str:
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    return "\n".join(lines)


def tables_section(repeats: int) -> str:
    import quarno_synth as qs
    from numpy_peer import peer_frames

    rows = []
    for bars, depth, rate in WORKLOADS:
        s = spec(bars, depth, rate)
        scope = {"qs": qs, "spec": s, "peer_frames": peer_frames}
        times = {}
        for name, statement in PATHS.items():
            slow = name.startswith("to_pandas")
            fn = lambda st=statement: eval(st, scope)
            times[name] = best_wall(1 if slow else repeats, fn)
        peer = times["numpy peer (DataFrames)"]
        for name, statement in PATHS.items():
            rows.append(
                [
                    f"{bars:,} x {depth} x {rate:g}",
                    name,
                    f"{times[name] * 1000:,.1f} ms",
                    f"{times[name] / peer:.2f}x",
                    mb(peak_bytes(statement, s)),
                ]
            )
    return table(
        ["workload (bars x depth x rate)", "path", "time", "vs numpy peer", "peak memory"], rows
    )


def parquet_row(s: dict, label: str, repeats: int) -> list[str]:
    import quarno_synth as qs

    with tempfile.TemporaryDirectory() as tmp:
        elapsed = best_wall(repeats, lambda: qs.write_parquet(s, Path(tmp) / "out"))
        size = sum(p.stat().st_size for p in (Path(tmp) / "out").iterdir())
        peak = peak_bytes(f"qs.write_parquet(spec, {str(Path(tmp) / 'peak')!r})", s)
    return [label, f"{elapsed:,.2f} s", mb(size), mb(peak)]


def threads_section(repeats: int) -> str:
    import quarno_synth as qs

    specs = [spec(20_000, 50, 2.0, seed) for seed in range(8)]
    rows = []
    for name, make in (("DataFrames", qs.generate_frames), ("numpy arrays", qs.generate_arrays)):

        def one_thread(make=make):
            for s in specs:
                make(s)

        def two_threads(make=make):
            threads = [
                threading.Thread(target=lambda part=part: [make(s) for s in part])
                for part in (specs[0::2], specs[1::2])
            ]
            for t in threads:
                t.start()
            for t in threads:
                t.join()

        two_threads()  # warm the column storage of both threads' runs
        one = best_wall(repeats, one_thread)
        two = best_wall(repeats, two_threads)
        rows.append([name, f"{one * 1000:,.0f} ms", f"{two * 1000:,.0f} ms", f"{one / two:.2f}x"])
    return table(["8 runs of 20,000 x 50 x 2 to", "one thread", "two threads", "speed-up"], rows)


def json_section(repeats: int) -> str:
    import quarno_synth as qs

    rows = []
    for bars, depth, rate in WORKLOADS:
        command = json.dumps({"cmd": "generate", "spec": spec(bars, depth, rate)})
        synth = qs.Synth("")
        for shape in ("generate", "generate_stream"):
            cmd = command.replace('"generate"', f'"{shape}"', 1)
            elapsed = best_wall(repeats, lambda c=cmd: synth.command(c))
            rows.append([f"{bars:,} x {depth} x {rate:g}", shape, f"{elapsed * 1000:,.1f} ms"])
    return table(["workload", "command", "time"], rows)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--skip-long", action="store_true", help="leave out the 20M-bar run")
    parser.add_argument("--threads-only", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.threads_only:
        print(threads_section(args.repeats))
        return
    print(
        f"machine: {platform.processor() or platform.machine()}, {os.cpu_count()} CPUs, "
        f"Python {platform.python_version()}\n"
    )
    print(tables_section(args.repeats) + "\n")
    rows = [parquet_row(spec(200_000, 20, 5.0), "200,000 x 20 x 5", min(args.repeats, 3))]
    if not args.skip_long:
        rows.append(parquet_row(spec(20_000_000, 5, 2.0), "20,000,000 x 5 x 2", 1))
    print(table(["spec to Parquet", "time", "files", "peak memory"], rows) + "\n")
    # In a fresh interpreter: the long Parquet runs above leave the process's memory in a
    # state that says more about the allocators than about the threads.
    threads = subprocess.run(
        [sys.executable, __file__, "--threads-only", "--repeats", str(2 * args.repeats)],
        check=True,
        capture_output=True,
        text=True,
    )
    print(threads.stdout)
    print(json_section(args.repeats))


if __name__ == "__main__":
    main()
