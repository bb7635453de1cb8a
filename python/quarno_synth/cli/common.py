"""What every command of `quarno-synth` shares: the one-line error, the spec source, writing
files and standard output."""

from __future__ import annotations

import argparse
import sys
from collections.abc import Callable
from pathlib import Path
from typing import Any, NoReturn

from .._rate_warning import warn_classic_rate
from .._spec_text import bad_byte
from ..api import generate_text
from ..batches import check_spec, open_run
from ..errors import SynthError
from ..examples import UnknownExample, example_text
from ..files import replacing
from ..schedule import bar_count
from .progress import Progress

PROG = "quarno-synth"

LABELS_HELP = (
    "csv, parquet: append the bars' labels to the candles: regime (index), kind, sigma "
    "(the conditional vol used) and jump (0 when none)"
)


LABELS_HELP = (
    "csv, parquet: append the bars' labels to the candles: regime (index), kind, sigma "
    "(the conditional vol used) and jump (0 when none)"
)


class UserError(Exception):
    """A failure reported as one line on stderr, with an exit status."""

    def __init__(self, message: str, status: int = 2) -> None:
        super().__init__(message)
        self.status = status


class Parser(argparse.ArgumentParser):
    """Usage errors as UserError (one line, status 2) instead of argparse's exit."""

    def error(self, message: str) -> NoReturn:
        raise UserError(f"{message} (see '{self.prog} --help')")


def add_spec_source(parser: argparse.ArgumentParser) -> None:
    """SPEC (a file, or - for stdin) or --example NAME."""
    source = parser.add_mutually_exclusive_group()
    source.add_argument("spec", nargs="?", metavar="SPEC", help="spec file (JSON), or - for stdin")
    source.add_argument("--example", metavar="NAME", help="use a built-in example spec instead")


def decode(data: bytes, what: str) -> str:
    """``data`` as UTF-8 text; UserError naming ``what`` and the first bad byte."""
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as exc:
        raise UserError(f"{what} is not UTF-8 text ({bad_byte(data, exc)})") from None


def check_example(args: argparse.Namespace) -> None:
    """UserError when --example names no built-in example."""
    if args.example is not None:
        read_spec(args)


def read_spec(args: argparse.Namespace) -> tuple[str, str]:
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
    return label, decode(data, f"spec '{label}'")


def warn_classic_rate_of(text: str) -> None:
    """The classic trade_rate warning for the spec ``text``; a spec that is rejected gets its
    error from the command itself."""
    try:
        run = open_run(text)
    except (SynthError, MemoryError):
        return
    warn_classic_rate(run)


def bar_count_or_none(text: str) -> int | None:
    try:
        return bar_count(text)
    except (ValueError, TypeError, IndexError):
        return None


def run(label: str, text: str, stream: bool, progress: Progress) -> str:
    """The response text of the spec; UserError (status 1) when it is rejected or fails."""
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


def write(target: Path, action: Callable[[], None]) -> None:
    """Run ``action``, which writes ``target``; its failures as one-line UserErrors."""
    try:
        action()
    except OSError as exc:
        name = exc.filename if isinstance(exc.filename, str) else target
        raise UserError(f"cannot write '{name}': {exc.strerror or exc}") from None
    except SynthError:
        raise
    except ValueError as exc:  # data the chosen format cannot hold
        raise UserError(f"cannot write '{target}': {exc}") from None


def image_format(out: Path, feature: str) -> str:
    """The image type of ``out`` by its suffix (png when it has none), checked against what
    matplotlib can draw; matplotlib itself is ``feature``'s optional extra."""
    from .._optional import require

    mfigure = require("matplotlib.figure", "plot", feature)
    fmt = out.suffix.lstrip(".").lower() or "png"
    supported = mfigure.Figure().canvas.get_supported_filetypes()
    if fmt not in supported:
        choices = ", ".join("." + name for name in sorted(supported))
        raise UserError(f"cannot draw '{out}': unknown image type '.{fmt}' (use one of {choices})")
    return fmt


def save_figure(figure: Any, out: Path, fmt: str) -> None:
    """Write a matplotlib figure to ``out`` as ``fmt``, atomically; failures as one line."""

    def save() -> None:
        with replacing(out, "wb") as f:
            figure.savefig(f, format=fmt)

    write(out, save)


def write_stdout(text: str) -> None:
    out = sys.stdout.buffer
    out.write(text.encode("utf-8"))
    if sys.stdout.isatty():  # keep the prompt off the document's line; pipes get exact bytes
        out.write(b"\n")
    out.flush()
