"""The `quarno-synth` command: generate, validate, plot, sweep, score, fit, make a universe
and list example specs.

Exit status: 0 success; 1 the spec was rejected or the run failed; 2 a usage, file or
environment problem (missing file, unknown example, missing optional extra).

One module per command, each with ``add_parser(commands)`` and ``command(args)``; what they
share is in ``common``.
"""

from __future__ import annotations

import argparse
import os
import sys
import warnings
from collections.abc import Callable, Sequence

from .. import _json
from .._memory import OUT_OF_MEMORY
from .._quarno_synth import Synth, __version__
from . import examples, facts, fit, generate, plot, sweep, universe, validate
from .common import PROG, Parser, UserError
from .termination import TERMINATED_STATUS, Terminated, terminating_as_interrupt

__all__ = ["build_parser", "main"]

# In the order of `--help`.
_COMMANDS: dict[str, tuple[Callable[..., None], Callable[[argparse.Namespace], int]]] = {
    "generate": (generate.add_parser, generate.command),
    "validate": (validate.add_parser, validate.command),
    "plot": (plot.add_parser, plot.command),
    "sweep": (sweep.add_parser, sweep.command),
    "universe": (universe.add_parser, universe.command),
    "facts": (facts.add_parser, facts.command),
    "fit": (fit.add_parser, fit.command),
    "examples": (examples.add_parser, examples.command),
}


def build_parser() -> argparse.ArgumentParser:
    """The parser of every command."""
    parser = Parser(
        prog=PROG,
        description="Deterministic synthetic market data from a JSON spec.",
        epilog="Run 'quarno-synth examples' for the built-in example specs.",
    )
    parser.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    for add_parser, _ in _COMMANDS.values():
        add_parser(commands)
    return parser


def self_check() -> int:
    """No arguments: the version and a one-line check that the native module answers."""
    answer = _json.loads(Synth("").command('{"cmd":"version"}'))
    ok = answer == {"version": __version__}
    print(f"quarno_synth {__version__}")
    print("self-check: " + ("ok" if ok else f"FAILED ({answer!r})"))
    print(f"run '{PROG} --help' for the commands")
    return 0 if ok else 1


def _one_line(message: Warning | str, *_: object, **__: object) -> None:
    """A warning as one line on stderr: "quarno-synth: warning: ..."."""
    print(f"{PROG}: warning: {message}", file=sys.stderr)


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line ``argv`` (default ``sys.argv[1:]``); returns the exit status."""
    argv = list(sys.argv[1:] if argv is None else argv)
    with terminating_as_interrupt():
        return _main(argv)


def _main(argv: list[str]) -> int:
    try:
        if not argv:
            return self_check()
        args = build_parser().parse_args(argv)
        if args.command is None:
            raise UserError("no command given (see 'quarno-synth --help')")
        with warnings.catch_warnings():
            warnings.simplefilter("always", UserWarning)
            warnings.showwarning = _one_line
            return _COMMANDS[args.command][1](args)
    except UserError as exc:
        print(f"{PROG}: {exc}", file=sys.stderr)
        return exc.status
    except ImportError as exc:  # a missing optional extra; the message names it
        print(f"{PROG}: {exc}", file=sys.stderr)
        return 2
    except MemoryError:
        print(f"{PROG}: {OUT_OF_MEMORY}", file=sys.stderr)
        return 1
    except Terminated:
        print(f"\n{PROG}: terminated", file=sys.stderr)
        return TERMINATED_STATUS
    except KeyboardInterrupt:
        print(f"\n{PROG}: interrupted", file=sys.stderr)
        return 130
    except BrokenPipeError:
        # the reader went away (e.g. `| head`); stay quiet, also at interpreter exit
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return 1
