"""`quarno-synth examples`: list the built-in example specs, or print one."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from ..examples import EXAMPLES, UnknownExample, example_text
from .common import UserError


def add_parser(commands: Any) -> None:
    ex = commands.add_parser(
        "examples",
        help="list the built-in example specs",
        description="List the built-in examples, or print one.",
    )
    ex.add_argument("name", nargs="?", metavar="NAME", help="print this example's spec")


def command(args: argparse.Namespace) -> int:
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
