"""`quarno-synth generate`: the response document, or the tables as CSV or Parquet files."""

from __future__ import annotations

import argparse
import threading
from pathlib import Path
from typing import Any

from .._optional import require
from .._options import CLI_FORMATS
from .._schema import BOOK_FORMS
from ..errors import SynthError
from ..files import table_paths, write_text
from ..universe.document import is_universe
from ..writers import prepare_run, write_run
from .common import (
    LABELS_HELP,
    UserError,
    add_spec_source,
    read_spec,
    run,
    warn_classic_rate_of,
    write,
    write_stdout,
)
from .progress import Progress


def add_parser(commands: Any) -> None:
    gen = commands.add_parser(
        "generate",
        help="generate a run",
        description="Write the run's response document (JSON), or its tables as CSV or Parquet.",
    )
    add_spec_source(gen)
    gen.add_argument("--stream", action="store_true", help="one time-ordered list of events")
    gen.add_argument(
        "--format",
        choices=CLI_FORMATS,
        default="json",
        help="json (default): the response document; csv, parquet: one file per table in -o DIR",
    )
    gen.add_argument(
        "-o", "--output", metavar="PATH", help="output file (json) or directory (csv, parquet)"
    )
    gen.add_argument(
        "--book",
        choices=BOOK_FORMS,
        help="csv, parquet: the book table with one row per level and side (long, the default) "
        "or one row per bar (wide)",
    )
    gen.add_argument("--labels", action="store_true", help=LABELS_HELP)


def command(args: argparse.Namespace) -> int:
    to_files = args.format != "json"
    if args.output == "":
        raise UserError("-o needs a path, not an empty name")
    if to_files and not args.output:
        raise UserError(f"--format {args.format} needs -o DIR, the directory for the table files")
    if not to_files and args.book is not None:
        raise UserError("--book applies to --format csv and --format parquet")
    if not to_files and args.labels:
        raise UserError("--labels applies to --format csv and --format parquet")
    out_dir = Path(args.output) if to_files else None
    if out_dir is not None:
        if out_dir.exists() and not out_dir.is_dir():
            raise UserError(f"cannot write tables into '{out_dir}': not a directory")
        if args.format == "parquet":
            require("pyarrow.parquet", "arrow", "--format parquet")
            require("numpy", "arrow", "--format parquet")
    out_file = None if to_files or args.output in (None, "-") else Path(args.output)
    if out_file is not None and not out_file.parent.is_dir():
        raise UserError(f"cannot write '{out_file}': directory '{out_file.parent}' does not exist")

    label, text = read_spec(args)
    warn_classic_rate_of(text)
    progress = Progress.for_terminal() if (to_files or out_file is not None) else Progress(False)
    if is_universe(text):
        if out_dir is None:
            raise UserError(
                f"{label} is a universe: write its tables with --format csv or "
                "--format parquet and -o DIR"
            )
        return _universe(
            label, text, args.format, args.book or "long", args.labels, out_dir, progress
        )
    if out_dir is not None:
        return _tables(
            label, text, args.format, args.book or "long", args.labels, out_dir, progress
        )
    response = run(label, text, args.stream, progress)
    if out_file is not None:
        progress.step(f"writing {out_file}")
        target = out_file
        write(target, lambda: write_text(target, response))
        progress.finish()
    else:
        write_stdout(response)
    return 0


def _tables(
    label: str, text: str, fmt: str, book: str, labels: bool, out_dir: Path, progress: Progress
) -> int:
    """Run batch by batch into the four table files: memory stays bounded whatever the bars."""
    try:
        native = prepare_run(text, fmt, book, labels)
    except SynthError as exc:
        raise UserError(f"{label}: {exc}", 1) from None
    except ValueError as exc:  # data the chosen format cannot hold
        raise UserError(f"cannot write '{out_dir}': {exc}") from None
    progress.step(f"generating {native.bars:,} bars")
    rows: dict[str, int] = {}

    def write_files() -> None:
        out_dir.mkdir(parents=True, exist_ok=True)
        paths = table_paths(out_dir, fmt)
        rows.update(write_run(native, paths, fmt, book=book, on_bars=progress.bars))

    try:
        write(out_dir, write_files)
    except SynthError as exc:  # the run failed part way ("numeric: ...")
        progress.finish()
        raise UserError(f"{label}: {exc}", 1) from None
    progress.finish(f"wrote 4 {fmt} files ({sum(rows.values()):,} rows) to {out_dir}")
    return 0


def _universe(
    label: str, text: str, fmt: str, book: str, labels: bool, out_dir: Path, progress: Progress
) -> int:
    """Every asset into its partition, DIR/<table>/symbol=<S>/part-0.<fmt>, on all cores."""
    from ..universe.document import load_universe
    from ..universe.files import write_universe

    try:
        universe = load_universe(text)
    except SynthError as exc:
        raise UserError(f"{label}: {exc}", 1) from None
    progress.step(f"generating {len(universe):,} assets x {universe.bars:,} bars")
    done = [0]
    lock = threading.Lock()

    def on_asset(symbol: str) -> None:  # called from the writer threads
        with lock:
            done[0] += 1
            progress.count(done[0], len(universe))

    rows: dict[str, dict[str, int]] = {}

    def write_files() -> None:
        rows.update(
            write_universe(universe, out_dir, fmt, book=book, on_asset=on_asset, labels=labels)
        )

    try:
        write(out_dir, write_files)
    except SynthError as exc:
        progress.finish()
        raise UserError(f"{label}: {exc}", 1) from None
    total = sum(sum(r.values()) for r in rows.values())
    progress.finish(f"wrote {len(rows):,} assets ({total:,} rows) as {fmt} to {out_dir}")
    return 0
