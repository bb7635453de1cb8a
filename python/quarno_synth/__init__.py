"""Deterministic synthetic market data: candles, order books, trades and funding."""

from typing import Any

from ._quarno_synth import Synth, __version__
from .api import generate, generate_text, open_synth, validate
from .arrays import generate_arrays
from .errors import SynthError
from .examples import EXAMPLES, example_spec, example_text
from .frames import generate_arrow, generate_frames, generate_polars, iter_batches
from .plot import plot, plot_run
from .sweep import generate_dataset
from .tables import to_arrow, to_pandas, to_polars
from .universe import (
    Universe,
    correlation_facts,
    cross_section,
    load_universe,
    make_universe,
)
from .writers import write_csv, write_parquet

__all__ = [
    "EXAMPLES",
    "Synth",
    "Universe",
    "SynthError",
    "__version__",
    "correlation_facts",
    "cross_section",
    "example_spec",
    "example_text",
    "generate",
    "generate_arrays",
    "generate_arrow",
    "generate_dataset",
    "generate_frames",
    "generate_polars",
    "generate_text",
    "iter_batches",
    "load_universe",
    "make_universe",
    "open_synth",
    "plot",
    "plot_run",
    "to_arrow",
    "to_pandas",
    "to_polars",
    "validate",
    "write_csv",
    "write_parquet",
]


# Submodules that need numpy (and scipy) load on first use, so the package imports without;
# they stay out of __all__, which a star import would load.
_LAZY = {"fit": "model", "FitReport": "model", "fit_universe": "universe"}


def __getattr__(name: str) -> Any:
    if name == "facts":
        import importlib

        return importlib.import_module(".facts", __name__)
    if name in _LAZY:
        import importlib

        return getattr(importlib.import_module(f"._fit.{_LAZY[name]}", __name__), name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
