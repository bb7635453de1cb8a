"""`quarno-synth plot`: a chart of a run written to an image file."""

from __future__ import annotations

import argparse
from pathlib import Path
from typing import Any

from ..errors import SynthError
from ..plot import plot_run
from .common import (
    UserError,
    add_spec_source,
    bar_count_or_none,
    check_example,
    image_format,
    read_spec,
    save_figure,
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
    out = Path(args.output)
    fmt = image_format(out, "plot")
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
    save_figure(figure, out, fmt)
    progress.finish()
    return 0
