"""`quarno-synth fit`: a spec fitted to a real series, with an optional chart."""

from __future__ import annotations

import argparse
import sys
from pathlib import Path
from typing import Any

from ..files import write_text
from .common import UserError, image_format, save_figure, write
from .progress import Progress


def add_parser(commands: Any) -> None:
    parser = commands.add_parser(
        "fit",
        help="fit a spec to a real price series",
        description="Fit regimes (and their dynamics) to the closes of a CSV or Parquet file "
        "and write the spec.",
    )
    parser.add_argument("data", metavar="FILE", help="CSV or Parquet file with a close column")
    parser.add_argument("-o", "--output", metavar="FILE", help="spec file (default: stdout)")
    parser.add_argument("--report", metavar="FILE", help="chart of the fit (.png, .svg, .pdf)")
    parser.add_argument(
        "--schedule",
        choices=("replay", "chain"),
        default="replay",
        help="replay: the historical regimes in order (default); chain: drawn per seed",
    )
    parser.add_argument("--bars", type=int, metavar="N", help="length of a chain run")
    parser.add_argument(
        "--regimes", default="auto", metavar="K", help="number of states 1..4, or auto (BIC)"
    )
    parser.add_argument("--no-dynamics", action="store_true", help="classic regimes only")
    parser.add_argument("--column", default="close", help="price column (e.g. 'adj close')")
    parser.add_argument("--seed", type=int, default=0, help="seed of the spec (default 0)")


def _regimes(text: str) -> Any:
    if text == "auto":
        return text
    try:
        return int(text)
    except ValueError:
        raise UserError(f"--regimes must be auto or 1..4, not '{text}'") from None


def command(args: argparse.Namespace) -> int:
    from .._fit.model import DataError, fit, spec_text

    if args.bars is not None and args.schedule != "chain":
        raise UserError("--bars needs --schedule chain (a replay has the data's length)")
    report_path = Path(args.report) if args.report else None
    fmt = image_format(report_path, "fit --report") if report_path else "png"
    progress = Progress.for_terminal()
    progress.step(f"fitting {args.data}")
    try:
        spec, report = fit(
            args.data,
            regimes=_regimes(args.regimes),
            dynamics=not args.no_dynamics,
            schedule=args.schedule,
            seed=args.seed,
            bars=args.bars,
            column=args.column,
        )
    except DataError as exc:
        raise UserError(f"{args.data}: {exc}", 1) from None
    except ValueError as exc:
        raise UserError(str(exc)) from None
    text = spec_text(spec)
    if args.output:
        out = Path(args.output)

        write(out, lambda: write_text(out, text))
    else:
        sys.stdout.write(text)
    if report_path is not None:
        from .._fit.plot import plot_fit

        progress.step("running 20 seeds for the report")
        figure = plot_fit(report, title=f"{Path(args.data).name}: fitted regimes")
        progress.step(f"writing {report_path}")
        save_figure(figure, report_path, fmt)
    progress.finish()
    print(report.summary(), file=sys.stderr)
    return 0
