"""`quarno-synth facts`: the stylized-facts scorecard (the command lives in ``facts_cli``)."""

from __future__ import annotations

import argparse
from typing import Any


def add_parser(commands: Any) -> None:
    from ..facts_cli import add_facts_parser

    add_facts_parser(commands)


def command(args: argparse.Namespace) -> int:
    from ..facts_cli import cmd_facts

    return cmd_facts(args)
