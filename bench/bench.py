"""Throughput and memory of the data commands, printed as a Markdown table.

Not a test. Run after installing the package (and, for the peer column,
``pip install orjson``):

    python bench/bench.py [--cxx-bench build/bench/bench/encode_bench] [--repeats 3]

For each workload it times "generate" and "generate_stream" through the Python
module (bars/s and MB/s of response text), measures the peak memory of one
command in a fresh interpreter relative to the response size, and times a
Python peer that rebuilds the grouped document as lists and dicts and
serialises it with orjson (generation excluded). The to_chars comparison of the
float writer comes from the C++ benchmark program, which is built here with
CMake unless a path is given.
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

WORKLOADS = [
    # bars, book_depth, trade_rate
    (100_000, 1, 0.0),
    (20_000, 50, 2.0),
    (20_000, 5, 50.0),
]


def spec_json(bars: int, depth: int, rate: float, seed: int = 42) -> str:
    return json.dumps(
        {
            "seed": seed,
            "bars": bars,
            "start_price": 100.0,
            "regimes": [{"kind": "trend", "len": bars, "drift": 0.0, "vol": 0.01}],
            "microstructure": {
                "book_depth": depth,
                "spread_bps": 5.0,
                "trade_rate": rate,
                "funding": {"interval_bars": 8, "base_rate": 0.0001, "sensitivity": 0.01},
            },
        }
    )


def best_of(repeats: int, fn):
    """Best CPU time of this process over the repeats (the machine may be shared,
    and wall time would then mostly measure the neighbours)."""
    best = float("inf")
    result = None
    for _ in range(repeats):
        result = None  # the previous response is released before the next run
        start = time.process_time()
        result = fn()
        best = min(best, time.process_time() - start)
    return best, result


def peer_document(parsed: dict) -> dict:
    """The grouped document rebuilt from plain lists and dicts, key order kept."""
    doc = {
        "candles": [
            {k: c[k] for k in ("ts", "open", "high", "low", "close", "volume")}
            for c in parsed["candles"]
        ],
        "book_snapshots": [
            {
                "ts": s["ts"],
                "bids": [{"price": l["price"], "qty": l["qty"]} for l in s["bids"]],
                "asks": [{"price": l["price"], "qty": l["qty"]} for l in s["asks"]],
            }
            for s in parsed["book_snapshots"]
        ],
        "trades": [
            {k: t[k] for k in ("ts", "seq", "price", "qty", "side")} for t in parsed["trades"]
        ],
    }
    if parsed.get("funding"):
        doc["funding"] = [{"ts": f["ts"], "rate": f["rate"]} for f in parsed["funding"]]
    return doc


def memory_probe(bars: int, depth: int, rate: float, cmd: str) -> dict:
    """Runs one command in a fresh interpreter; peak RSS before and after, in bytes."""
    code = f"""
import json, resource, sys
from quarno_synth import Synth
s = Synth({spec_json(bars, depth, rate)!r})
s.command('{{"cmd":"version"}}')
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
out = s.command('{{"cmd":"{cmd}"}}')
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
print(json.dumps({{"before": before, "after": after, "bytes": len(out)}}))
"""
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def cxx_bench(path: str | None) -> list[dict]:
    if path is None:
        build = ROOT / "build" / "bench"
        subprocess.run(
            [
                "cmake",
                "-S",
                str(ROOT),
                "-B",
                str(build),
                "-G",
                "Ninja",
                "-DCMAKE_BUILD_TYPE=Release",
                "-DSYNTH_BUILD_BENCH=ON",
                "-DSYNTH_BUILD_MODULE=OFF",
                "-DSYNTH_BUILD_TESTS=OFF",
            ],
            check=True,
            capture_output=True,
        )
        subprocess.run(
            ["cmake", "--build", str(build), "--target", "encode_bench", "-j2"],
            check=True,
            capture_output=True,
        )
        path = str(build / "bench" / "encode_bench")
    done = subprocess.run([path, "--json"], capture_output=True, text=True, check=True)
    return [json.loads(line) for line in done.stdout.splitlines() if line.strip()]


def machine() -> str:
    model = platform.processor() or platform.machine()
    try:
        for line in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
            if line.startswith("Model name:"):
                model = line.split(":", 1)[1].strip()
    except OSError:
        pass
    return f"{model}, {os.cpu_count()} logical CPUs, Python {platform.python_version()}"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cxx-bench", help="path of an encode_bench binary (default: build it)")
    parser.add_argument("--no-cxx", action="store_true", help="skip the C++ benchmark")
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()

    from quarno_synth import Synth

    try:
        import orjson
    except ImportError:
        orjson = None

    # Memory first, while this process is still small: a child's peak RSS
    # starts from its parent's size at fork.
    memory = {
        (bars, depth, rate, cmd): memory_probe(bars, depth, rate, cmd)
        for bars, depth, rate in WORKLOADS
        for cmd in ("generate", "generate_stream")
    }

    rows = []
    for bars, depth, rate in WORKLOADS:
        synth = Synth(spec_json(bars, depth, rate))
        for cmd in ("generate", "generate_stream"):
            seconds, text = best_of(args.repeats, lambda: synth.command(f'{{"cmd":"{cmd}"}}'))
            size = len(text.encode())
            row = {
                "cmd": cmd,
                "bars": bars,
                "depth": depth,
                "rate": rate,
                "mb": size / 1e6,
                "bars_s": bars / seconds,
                "mb_s": size / 1e6 / seconds,
            }
            if cmd == "generate" and orjson is not None:
                doc = peer_document(json.loads(text))
                peer_s, _ = best_of(args.repeats, lambda: orjson.dumps(doc))
                row["peer_mb_s"] = size / 1e6 / peer_s
            mem = memory[(bars, depth, rate, cmd)]
            row["peak_ratio"] = (mem["after"] - mem["before"]) / mem["bytes"]
            row["peak_total_ratio"] = mem["after"] / mem["bytes"]
            rows.append(row)
            del text

    cxx = [] if args.no_cxx else cxx_bench(args.cxx_bench)
    writes = {
        (r["shape"], r["bars"], r["depth"], r["rate"]): r for r in cxx if r["kind"] == "encode"
    }

    print(f"Machine: {machine()}. Best CPU time of {args.repeats} runs.\n")
    # Peak memory: growth of the peak RSS during one command in a fresh
    # interpreter, then the whole peak including the interpreter itself.
    print(
        "| command | bars | depth | trade rate | response MB | bars/s | MB/s "
        "| text writer MB/s (fast / to_chars) | vs orjson peer | peak memory / response |"
    )
    print("|---|---|---|---|---|---|---|---|---|---|")
    for r in rows:
        w = writes.get((r["cmd"], r["bars"], r["depth"], r["rate"]))
        writer = "n/a"
        if w:
            mb = w["bytes"] / 1e6
            ratio = w["general_s"] / w["fast_s"]
            writer = f"{mb / w['fast_s']:.0f} / {mb / w['general_s']:.0f} ({ratio:.1f}x)"
        peer = f"{r['mb_s'] / r['peer_mb_s']:.1f}x" if "peer_mb_s" in r else "n/a"
        print(
            f"| {r['cmd']} | {r['bars']:,} | {r['depth']} | {r['rate']:g} | {r['mb']:.1f} "
            f"| {r['bars_s']:,.0f} | {r['mb_s']:.0f} | {writer} | {peer} "
            f"| {r['peak_ratio']:.2f} ({r['peak_total_ratio']:.2f} with interpreter) |"
        )

    numbers = [r for r in cxx if r["kind"] == "number"]
    if numbers:
        print("\n| float values | ns/value (fast) | ns/value (to_chars) |")
        print("|---|---|---|")
        for n in numbers:
            print(f"| {n['values']} | {n['fast_ns']:.1f} | {n['general_ns']:.1f} |")


if __name__ == "__main__":
    main()
