"""The `quarno-synth` command: generate, validate, plot and list example specs.

Exit status: 0 success; 1 the spec was rejected or the run failed; 2 a usage, file or
environment problem (missing file, unknown example, missing optional extra).
"""

from __future__ import annotations

import argparse
import os
import sys
from pathlib import Path
from typing import NoReturn, Sequence

from . import _json
from ._optional import require
from .api import generate_text
from .batches import check_spec
from .errors import SynthError
from .examples import EXAMPLES, UnknownExample, example_text
from .files import replacing, table_paths, write_text
from .progress import Progress
from .writers import prepare_run, write_run
from .schedule import bar_count

PROG = "quarno-synth"

LABELS_HELP = (
    "csv, parquet: append the bars' labels to the candles: regime (index), kind, sigma "
    "(the conditional vol used) and jump (0 when none)"
)


class UserError(Exception):
    """A failure reported as one line on stderr, with an exit status."""

    def __init__(self, message: str, status: int = 2) -> None:
        super().__init__(message)
        self.status = status


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        raise UserError(f"{message} (see '{self.prog} --help')")


def _add_spec_source(parser: argparse.ArgumentParser) -> None:
    source = parser.add_mutually_exclusive_group()
    source.add_argument("spec", nargs="?", metavar="SPEC", help="spec file (JSON), or - for stdin")
    source.add_argument("--example", metavar="NAME", help="use a built-in example spec instead")


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog=PROG,
        description="Deterministic synthetic market data from a JSON spec.",
        epilog="Run 'quarno-synth examples' for the built-in example specs.",
    )
    from . import __version__

    parser.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")

    gen = commands.add_parser(
        "generate",
        help="generate a run",
        description="Write the run's response document (JSON), or its tables as CSV or Parquet.",
    )
    _add_spec_source(gen)
    gen.add_argument("--stream", action="store_true", help="one time-ordered list of events")
    gen.add_argument(
        "--format",
        choices=("json", "csv", "parquet"),
        default="json",
        help="json (default): the response document; csv, parquet: one file per table in -o DIR",
    )
    gen.add_argument(
        "-o", "--output", metavar="PATH", help="output file (json) or directory (csv, parquet)"
    )
    gen.add_argument(
        "--book",
        choices=("long", "wide"),
        help="csv, parquet: the book table with one row per level and side (long, the default) "
        "or one row per bar (wide)",
    )
    gen.add_argument("--labels", action="store_true", help=LABELS_HELP)

    val = commands.add_parser(
        "validate",
        help="check a spec",
        description="Print ok, or the reason the spec is rejected. Extension members (garch, "
        "tails, jumps, ...) are accepted: they work with --format csv and parquet.",
    )
    _add_spec_source(val)

    plot = commands.add_parser(
        "plot",
        help="draw a chart of a run",
        description="Candlesticks with volume, funding rate and the regime schedule.",
    )
    _add_spec_source(plot)
    plot.add_argument(
        "-o", "--output", metavar="FILE", required=True, help="image file (.png, .svg, .pdf)"
    )
    plot.add_argument("--title", help="chart title")

    from .sweep_cli import add_sweep_parser

    add_sweep_parser(commands)

    ex = commands.add_parser(
        "examples",
        help="list the built-in example specs",
        description="List the built-in examples, or print one.",
    )
    ex.add_argument("name", nargs="?", metavar="NAME", help="print this example's spec")
    return parser


def _read_spec(args: argparse.Namespace) -> tuple[str, str]:
    """(label for messages, spec text) of the command's spec source."""
    if args.example is not None:
        try:
            return args.example, example_text(args.example)
        except UnknownExample as exc:
            raise UserError(str(exc)) from None
    if args.spec is None:
        raise UserError("a spec is required: give a file, - for stdin, or --example NAME")
    if args.spec == "-":
        label, data = "<stdin>", sys.stdin.buffer.read()
    else:
        label = args.spec
        try:
            data = Path(args.spec).read_bytes()
        except OSError as exc:
            raise UserError(f"cannot read spec '{args.spec}': {exc.strerror or exc}") from None
    try:
        return label, data.decode("utf-8")
    except UnicodeDecodeError as exc:
        raise UserError(
            f"spec '{label}' is not UTF-8 text (byte 0x{data[exc.start]:02x} at offset {exc.start})"
        ) from None


def _run(label: str, text: str, stream: bool, progress: Progress) -> str:
    bars = bar_count_or_none(text)
    progress.step(f"generating {bars:,} bars" if bars is not None else "generating")
    try:
        return generate_text(text, stream=stream)
    except SynthError as exc:
        raise UserError(f"{label}: {exc}{_extended_hint(str(exc), text)}", 1) from None


def _extended_hint(error: str, text: str) -> str:
    """A hint when an extension member is what the JSON document's classic language rejects."""
    if not error.startswith("parse: unknown field"):
        return ""
    try:
        check_spec(text)
    except SynthError:
        return ""
    return " (extension members such as garch, tails and jumps need --format csv or parquet)"


def bar_count_or_none(text: str) -> int | None:
    try:
        return bar_count(text)
    except (ValueError, TypeError, IndexError):
        return None


def _cmd_generate(args: argparse.Namespace) -> int:
    to_files = args.format != "json"
    if to_files and not args.output:
        raise UserError(f"--format {args.format} needs -o DIR, the directory for the table files")
    if not to_files and args.book is not None:
        raise UserError("--book applies to --format csv and --format parquet")
    if not to_files and args.labels:
        raise UserError("--labels applies to --format csv and --format parquet")
    if to_files:
        out_dir = Path(args.output)
        if out_dir.exists() and not out_dir.is_dir():
            raise UserError(f"cannot write tables into '{out_dir}': not a directory")
        if args.format == "parquet":
            require("pyarrow.parquet", "arrow", "--format parquet")
            require("numpy", "arrow", "--format parquet")
    out_file = None if to_files or args.output in (None, "-") else Path(args.output)
    if out_file is not None and not out_file.parent.is_dir():
        raise UserError(f"cannot write '{out_file}': directory '{out_file.parent}' does not exist")

    label, text = _read_spec(args)
    progress = Progress.for_terminal() if (to_files or out_file is not None) else Progress(False)
    if to_files:
        return _generate_tables(
            label, text, args.format, args.book or "long", args.labels, out_dir, progress
        )
    response = _run(label, text, args.stream, progress)
    if out_file is not None:
        progress.step(f"writing {out_file}")
        _write(out_file, lambda: write_text(out_file, response))
        progress.finish()
    else:
        _write_stdout(response)
    return 0


def _generate_tables(
    label: str, text: str, fmt: str, book: str, labels: bool, out_dir: Path, progress: Progress
) -> int:
    """Run batch by batch into the four table files: memory stays bounded whatever the bars."""
    try:
        run = prepare_run(text, fmt, book, labels)
    except SynthError as exc:
        raise UserError(f"{label}: {exc}", 1) from None
    except ValueError as exc:  # data the chosen format cannot hold
        raise UserError(f"cannot write '{out_dir}': {exc}") from None
    progress.step(f"generating {run.bars:,} bars")
    rows: dict[str, int] = {}

    def write() -> None:
        out_dir.mkdir(parents=True, exist_ok=True)
        rows.update(
            write_run(run, table_paths(out_dir, fmt), fmt, book=book, on_bars=progress.bars)
        )

    try:
        _write(out_dir, write)
    except SynthError as exc:  # the run failed part way ("numeric: ...")
        progress.finish()
        raise UserError(f"{label}: {exc}", 1) from None
    progress.finish(f"wrote 4 {fmt} files ({sum(rows.values()):,} rows) to {out_dir}")
    return 0


def _write(target: Path, action) -> None:
    try:
        action()
    except OSError as exc:
        name = exc.filename if isinstance(exc.filename, str) else target
        raise UserError(f"cannot write '{name}': {exc.strerror or exc}") from None
    except SynthError:
        raise
    except ValueError as exc:  # data the chosen format cannot hold
        raise UserError(f"cannot write '{target}': {exc}") from None


def _write_stdout(text: str) -> None:
    out = sys.stdout.buffer
    out.write(text.encode("utf-8"))
    if sys.stdout.isatty():  # keep the prompt off the document's line; pipes get exact bytes
        out.write(b"\n")
    out.flush()


def _cmd_validate(args: argparse.Namespace) -> int:
    _, text = _read_spec(args)
    try:
        check_spec(text)
    except SynthError as exc:
        print(exc, file=sys.stderr)
        return 1
    print("ok")
    return 0


def _cmd_plot(args: argparse.Namespace) -> int:
    mfigure = require("matplotlib.figure", "plot", "plot")
    from .plot import plot

    out = Path(args.output)
    fmt = out.suffix.lstrip(".").lower() or "png"
    supported = mfigure.Figure().canvas.get_supported_filetypes()
    if fmt not in supported:
        choices = ", ".join("." + name for name in sorted(supported))
        raise UserError(f"cannot draw '{out}': unknown image type '.{fmt}' (use one of {choices})")
    if not out.parent.is_dir():
        raise UserError(f"cannot write '{out}': directory '{out.parent}' does not exist")

    label, text = _read_spec(args)
    progress = Progress.for_terminal()
    response = _run(label, text, False, progress)
    progress.step("drawing")
    figure = plot(_json.loads(response), text, title=args.title or label)
    progress.step(f"writing {out}")

    def save() -> None:
        with replacing(out, "wb") as f:
            figure.savefig(f, format=fmt)

    _write(out, save)
    progress.finish()
    return 0


def _cmd_examples(args: argparse.Namespace) -> int:
    if args.name is not None:
        try:
            text = example_text(args.name)
        except UnknownExample as exc:
            raise UserError(str(exc)) from None
        sys.stdout.write(text if text.endswith("\n") else text + "\n")
        return 0
    width = max(len(example.name) for example in EXAMPLES)
    for example in EXAMPLES:
        print(f"{example.name.ljust(width)}  {example.description}")
    return 0


def self_check() -> int:
    """No arguments: the version and a one-line check that the native module answers."""
    from . import Synth, __version__

    answer = _json.loads(Synth("").command('{"cmd":"version"}'))
    ok = answer == {"version": __version__}
    print(f"quarno_synth {__version__}")
    print("self-check: " + ("ok" if ok else f"FAILED ({answer!r})"))
    print(f"run '{PROG} --help' for the commands")
    return 0 if ok else 1


def _cmd_sweep(args: argparse.Namespace) -> int:
    from .sweep_cli import cmd_sweep

    return cmd_sweep(args)


_COMMANDS = {
    "generate": _cmd_generate,
    "validate": _cmd_validate,
    "plot": _cmd_plot,
    "examples": _cmd_examples,
    "sweep": _cmd_sweep,
}


def main(argv: Sequence[str] | None = None) -> int:
    argv = list(sys.argv[1:] if argv is None else argv)
    try:
        if not argv:
            return self_check()
        args = build_parser().parse_args(argv)
        if args.command is None:
            raise UserError("no command given (see 'quarno-synth --help')")
        return _COMMANDS[args.command](args)
    except UserError as exc:
        print(f"{PROG}: {exc}", file=sys.stderr)
        return exc.status
    except ImportError as exc:  # a missing optional extra; the message names it
        print(f"{PROG}: {exc}", file=sys.stderr)
        return 2
    except MemoryError:
        print(
            f"{PROG}: out of memory: the run does not fit (reduce bars, book_depth or trade_rate)",
            file=sys.stderr,
        )
        return 1
    except KeyboardInterrupt:
        print(f"\n{PROG}: interrupted", file=sys.stderr)
        return 130
    except BrokenPipeError:
        # the reader went away (e.g. `| head`); stay quiet, also at interpreter exit
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return 1
