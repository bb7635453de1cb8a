"""`quarno-synth universe`: a ready universe document, e.g. 500 assets on a market factor
and 10 sectors, written as JSON."""

from __future__ import annotations

import argparse
import json
from pathlib import Path
from typing import Any

from ..files import write_text
from ..universe.make import make_universe
from .common import UserError, write, write_stdout


def add_parser(commands: Any) -> None:
    parser = commands.add_parser(
        "universe",
        help="write a ready universe",
        description="Write a universe document: assets with random loadings on the factors "
        "(market, sectors, ...), per-asset vols, a shared regime schedule with a crash in which "
        "the market loading rises, and common jumps on the market. Generate it with "
        "'generate U.json --format parquet -o DIR'.",
    )
    parser.add_argument("--assets", type=int, required=True, metavar="N", help="number of assets")
    parser.add_argument(
        "--factors",
        default="market,sector:10",
        metavar="LIST",
        help="factor names, NAME:N for a group of N (default market,sector:10)",
    )
    parser.add_argument("--seed", type=int, default=1, help="seed of the draws and the factors")
    parser.add_argument("--bars", type=int, default=2520, help="bars per asset (default 2520)")
    parser.add_argument(
        "--bar-secs", type=int, default=86400, help="seconds per bar (default 86400, daily)"
    )
    parser.add_argument("--depth", type=int, default=1, help="book levels per side (default 1)")
    parser.add_argument(
        "--trade-rate", type=float, default=0.0, help="mean trades per bar (default 0)"
    )
    parser.add_argument("-o", "--output", metavar="FILE", help="output file (default stdout)")


def command(args: argparse.Namespace) -> int:
    try:
        doc = make_universe(
            args.assets,
            args.factors,
            seed=args.seed,
            bars=args.bars,
            bar_secs=args.bar_secs,
            book_depth=args.depth,
            trade_rate=args.trade_rate,
        )
    except ValueError as exc:
        raise UserError(str(exc)) from None
    text = json.dumps(doc, separators=(",", ":"))
    if args.output in (None, "-"):
        write_stdout(text)
        return 0
    target = Path(args.output)
    write(target, lambda: write_text(target, text))
    return 0
