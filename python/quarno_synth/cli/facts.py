"""`quarno-synth facts`: the stylized-facts scorecard of a spec over seeds, or of a file of
closes, optionally beside a real series and drawn (see quarno_synth.facts)."""

from __future__ import annotations

import argparse
import math
import sys
from pathlib import Path
from typing import Any

from ..examples import EXAMPLES, UnknownExample, example_text
from .common import UserError, decode, image_format, save_figure
from .progress import Progress

_CLOSES_SUFFIXES = (".csv", ".parquet", ".pq")


def add_parser(commands: Any) -> None:
    parser = commands.add_parser(
        "facts",
        help="the stylized-facts scorecard of a spec or a series",
        description="Score the log returns of a spec run over seeds (mean, std, 5 and 95 % "
        "quantiles of each metric), or of a CSV/Parquet file of closes, optionally beside a "
        "real series.",
    )
    parser.add_argument(
        "source",
        metavar="SPEC_OR_FILE",
        help="spec file (JSON), - for stdin, an example name, or a .csv/.parquet file with a "
        "close column",
    )
    parser.add_argument(
        "--seeds",
        metavar="START:STOP",
        help="seeds of the spec's runs (default 0:20; also START:STOP:STEP or one seed)",
    )
    parser.add_argument(
        "--against", metavar="FILE", help="a real series: .csv/.parquet file with a close column"
    )
    parser.add_argument("--plot", metavar="FILE", help="draw the scorecard into FILE (.png, ...)")


def _is_closes_file(name: str) -> bool:
    return Path(name).suffix.lower() in _CLOSES_SUFFIXES


def _read_closes(name: str) -> Any:
    from ..facts import read_closes

    try:
        return read_closes(name)
    except OSError as exc:
        raise UserError(f"cannot read '{name}': {exc.strerror or exc}") from None
    except ValueError as exc:
        raise UserError(str(exc)) from None


def _spec_text(source: str) -> tuple[str, str]:
    """(label, text) of a spec given as a file, - (stdin) or an example name."""
    if source == "-":
        data = sys.stdin.buffer.read()
    elif not Path(source).exists() and source in {e.name for e in EXAMPLES}:
        try:
            return source, example_text(source)
        except UnknownExample as exc:
            raise UserError(str(exc)) from None
    else:
        try:
            data = Path(source).read_bytes()
        except FileNotFoundError:
            names = ", ".join(e.name for e in EXAMPLES)
            raise UserError(
                f"cannot read '{source}': no such file, nor an example of that name "
                f"(examples: {names})"
            ) from None
        except OSError as exc:
            raise UserError(f"cannot read spec '{source}': {exc.strerror or exc}") from None
    return source, decode(data, f"spec '{source}'")


def _cell(value: float) -> str:
    if math.isnan(value):
        return "-"
    return f"{value:.4f}" if abs(value) < 1000 else f"{value:.1f}"


def format_table(columns: dict[str, list[float]]) -> str:
    """The metrics as aligned text: one line per metric, one column per statistic."""
    from ..facts import METRICS

    width = max(len(m) for m in METRICS)
    cells = {name: [_cell(v) for v in values] for name, values in columns.items()}
    widths = {name: max(len(name), *(len(c) for c in cells[name])) for name in cells}
    lines = ["metric".ljust(width) + "".join("  " + n.rjust(widths[n]) for n in cells)]
    for i, metric in enumerate(METRICS):
        lines.append(
            metric.ljust(width) + "".join("  " + cells[n][i].rjust(widths[n]) for n in cells)
        )
    return "\n".join(lines) + "\n"


def _check_plot_path(name: str) -> tuple[Path, str]:
    out = Path(name)
    fmt = image_format(out, "--plot")
    if not out.parent.is_dir():
        raise UserError(f"cannot write '{out}': directory '{out.parent}' does not exist")
    return out, fmt


def command(args: argparse.Namespace) -> int:
    from .. import facts
    from ..sweep import SweepError, parse_seeds

    plot = _check_plot_path(args.plot) if args.plot is not None else None
    real = facts.score(_read_closes(args.against)) if args.against is not None else None
    progress = Progress.for_terminal()
    if _is_closes_file(args.source):
        if args.seeds is not None:
            raise UserError("--seeds applies to a spec, not to a file of closes")
        scores = [facts.score(_read_closes(args.source))]
        metrics = scores[0].metrics
        columns = {"value": [metrics[m] for m in facts.METRICS]}
        title = args.source
    else:
        label, text = _spec_text(args.source)
        try:
            seeds = parse_seeds(args.seeds if args.seeds is not None else "0:20")
        except SweepError as exc:
            raise UserError(str(exc)) from None
        scores = []
        progress.step(f"scoring {len(seeds):,} seeds")
        try:
            for closes in facts.spec_closes(text, seeds):
                scores.append(facts.score(closes))
                progress.count(len(scores), len(seeds))
        except ValueError as exc:  # a rejected spec, or closes that cannot be scored (a 0)
            progress.finish()
            raise UserError(f"{label}: {exc}", 1) from None
        progress.finish()
        columns = facts.spread(scores)
        title = f"{label}, {len(seeds)} seeds"
    if real is not None:
        columns = {"real": [real.metrics[m] for m in facts.METRICS], **columns}
    sys.stdout.write(format_table(columns))
    if plot is not None:
        from ..facts_plot import plot_facts

        out, fmt = plot
        figure = plot_facts(scores, real, title=title)
        save_figure(figure, Path(out), fmt)
    return 0
