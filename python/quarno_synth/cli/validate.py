"""`quarno-synth validate`: ok, or the reason the spec is rejected."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from ..batches import open_run
from ..errors import SynthError
from .common import add_spec_source, read_spec


def add_parser(commands: Any) -> None:
    val = commands.add_parser(
        "validate",
        help="check a spec",
        description="Print ok, or the reason the spec is rejected. Extension members (garch, "
        "tails, jumps, ...) are accepted: they work with --format csv and parquet.",
    )
    add_spec_source(val)


def command(args: argparse.Namespace) -> int:
    _, text = read_spec(args)
    try:
        open_run(text)
    except SynthError as exc:
        print(exc, file=sys.stderr)
        return 1
    print("ok")
    return 0
