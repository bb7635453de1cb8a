"""`quarno-synth plot`: a chart of a run written to an image file."""

from __future__ import annotations

import argparse
from pathlib import Path
from typing import Any

from .._optional import require
from ..errors import SynthError
from ..files import replacing
from ..plot import plot_run
from .common import (
    UserError,
    add_spec_source,
    bar_count_or_none,
    check_example,
    read_spec,
    write,
)
from .progress import Progress


def add_parser(commands: Any) -> None:
    parser = commands.add_parser(
        "plot",
        help="draw a chart of a run",
        description="Candlesticks with volume, funding rate and the regime schedule.",
    )
    add_spec_source(parser)
    parser.add_argument(
        "-o", "--output", metavar="FILE", required=True, help="image file (.png, .svg, .pdf)"
    )
    parser.add_argument("--title", help="chart title")


def command(args: argparse.Namespace) -> int:
    check_example(args)  # an unknown example is reported before a missing extra
    mfigure = require("matplotlib.figure", "plot", "plot")
    out = Path(args.output)
    fmt = out.suffix.lstrip(".").lower() or "png"
    supported = mfigure.Figure().canvas.get_supported_filetypes()
    if fmt not in supported:
        choices = ", ".join("." + name for name in sorted(supported))
        raise UserError(f"cannot draw '{out}': unknown image type '.{fmt}' (use one of {choices})")
    if not out.parent.is_dir():
        raise UserError(f"cannot write '{out}': directory '{out.parent}' does not exist")

    label, text = read_spec(args)
    progress = Progress.for_terminal()
    bars = bar_count_or_none(text)
    progress.step(f"drawing {bars:,} bars" if bars is not None else "drawing")
    try:  # batch by batch: memory stays bounded whatever the bars
        figure = plot_run(text, title=args.title or label)
    except SynthError as exc:
        raise UserError(f"{label}: {exc}", 1) from None
    progress.step(f"writing {out}")

    def save() -> None:
        with replacing(out, "wb") as f:
            figure.savefig(f, format=fmt)

    write(out, save)
    progress.finish()
    return 0
