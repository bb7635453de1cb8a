"""`quarno-synth sweep`: many runs into one Parquet dataset (see quarno_synth.sweep)."""

from __future__ import annotations

import argparse
import concurrent.futures as cf
import contextlib
import os
import sys
import warnings
from pathlib import Path
from typing import Any

from .. import sweep
from .._optional import require
from .._schema import BOOK_FORMS
from ..universe.document import is_universe
from .common import LABELS_HELP, PROG, UserError, add_spec_source, decode, read_spec
from .progress import Progress


def add_parser(commands: Any) -> None:
    parser = commands.add_parser(
        "sweep",
        help="many runs into one Parquet dataset",
        description="Run one spec over many seeds, or every spec of a file, or every asset of a "
        "universe (over seeds too), on all cores or a "
        "Dask cluster, into one Parquet dataset with a manifest. Started again with the same "
        "arguments, it finishes an interrupted sweep.",
    )
    add_spec_source(parser)
    parser.add_argument(
        "--specs", metavar="FILE", help="a file of specs, one JSON spec per line (run=N: the Nth)"
    )
    parser.add_argument(
        "--seeds",
        metavar="START:STOP",
        help="seeds START to STOP-1 (also START:STOP:STEP, or one seed); replaces the spec's seed",
    )
    parser.add_argument("-o", "--output", metavar="DIR", required=True, help="dataset directory")
    parser.add_argument(
        "--workers", type=int, metavar="N", help="worker processes (default: one per core)"
    )
    parser.add_argument(
        "--threads", action="store_true", help="a pool of threads instead of processes"
    )
    parser.add_argument(
        "--scheduler", metavar="ADDRESS", help="run on the Dask scheduler at ADDRESS"
    )
    parser.add_argument(
        "--book", choices=BOOK_FORMS, default="long", help="book table form (default long)"
    )
    parser.add_argument("--labels", action="store_true", help=LABELS_HELP)


def _read_spec_lines(name: str) -> list[str]:
    try:
        data = Path(name).read_bytes()
    except OSError as exc:
        raise UserError(f"cannot read specs '{name}': {exc.strerror or exc}") from None
    text = decode(data, f"specs '{name}'")
    lines = [line for line in text.splitlines() if line.strip()]
    if not lines:
        raise UserError(f"specs '{name}' holds no spec (one JSON spec per line)")
    return lines


def command(args: argparse.Namespace) -> int:
    if args.specs is not None and (args.spec is not None or args.example is not None):
        raise UserError("give SPEC (or --example) with --seeds, or --specs FILE, not both")
    spec: str | None = None
    specs: list[str] | None = None
    if args.specs is not None:
        specs = _read_spec_lines(args.specs)
    else:
        spec = read_spec(args)[1]
    # a universe sweeps its assets (partition symbol), over seeds too when given
    if args.specs is None and args.seeds is None and not is_universe(spec):
        raise UserError("a sweep over one spec needs --seeds START:STOP (e.g. --seeds 0:1000)")
    if args.workers is not None and args.workers < 1:
        raise UserError(f"--workers must be at least 1, not {args.workers}")
    if args.scheduler is not None and (args.workers is not None or args.threads):
        raise UserError("--scheduler runs on the cluster's workers: leave out --workers/--threads")
    require("pyarrow.parquet", "arrow", "sweep")
    try:
        seeds = sweep.parse_seeds(args.seeds) if args.seeds is not None else None
    except sweep.SweepError as exc:
        raise UserError(str(exc)) from None
    out = Path(args.output)
    progress = Progress.for_terminal()
    progress.step("sweep")
    with contextlib.ExitStack() as stack:
        executor: cf.Executor | None = None
        try:
            if args.scheduler is not None:
                executor = stack.enter_context(sweep.cluster_executor(args.scheduler))
            elif args.threads:
                workers = args.workers or os.cpu_count() or 1
                executor = stack.enter_context(cf.ThreadPoolExecutor(workers))
            with warnings.catch_warnings(record=True) as said:
                warnings.simplefilter("always", RuntimeWarning)
                manifest = sweep.generate_dataset(
                    spec,
                    specs=specs,
                    seeds=seeds,
                    path=out,
                    executor=executor,
                    max_workers=args.workers,
                    book=args.book,
                    labels=args.labels,
                    on_runs=progress.count,
                )
            for warning in said:  # e.g. runs made again on a resume: one line each
                progress.finish()
                print(f"{PROG}: {warning.message}", file=sys.stderr)
        except sweep.SweepError as exc:
            progress.finish()
            raise UserError(str(exc)) from None
        except sweep.SweepFailed as exc:
            progress.finish()
            raise UserError(str(exc), 1) from None
        except OSError as exc:
            progress.finish()
            name = exc.filename if isinstance(exc.filename, str) else out
            raise UserError(f"cannot write '{name}': {exc.strerror or exc}") from None
    summary = manifest["summary"]
    failed = [entry for entry in manifest["runs"] if entry["status"] == "failed"]
    if failed:
        progress.finish()
        first = failed[0]
        key = ",".join(f"{name}={first[name]}" for name in manifest["partitions"])
        raise UserError(
            f"{len(failed):,} of {summary['runs']:,} runs failed (recorded in "
            f"{out / sweep.MANIFEST}); first: {key}: {first['error']}",
            1,
        )
    rows = sum(summary["rows"].values())
    progress.finish(f"wrote {summary['runs']:,} runs ({rows:,} rows) to {out}")
    return 0
