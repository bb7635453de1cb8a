"""`quarno-synth plot`: a chart of a run written to an image file."""

from __future__ import annotations

import argparse
from pathlib import Path
from typing import Any

from .. import _json
from .._optional import require
from ..files import replacing
from ..plot import plot
from .common import UserError, add_spec_source, check_example, read_spec, run, write
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
    response = run(label, text, False, progress)
    progress.step("drawing")
    figure = plot(_json.loads(response), text, title=args.title or label)
    progress.step(f"writing {out}")

    def save() -> None:
        with replacing(out, "wb") as f:
            figure.savefig(f, format=fmt)

    write(out, save)
    progress.finish()
    return 0
