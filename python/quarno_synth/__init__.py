"""Deterministic synthetic market data: candles, order books, trades and funding."""

from ._quarno_synth import Synth, __version__
from .api import generate, generate_text, open_synth, validate
from .arrays import generate_arrays
from .errors import SynthError
from .examples import EXAMPLES, example_spec, example_text
from .frames import generate_arrow, generate_frames, generate_polars, iter_batches
from .plot import plot, plot_run
from .sweep import generate_dataset
from .tables import to_arrow, to_pandas, to_polars
from .writers import write_csv, write_parquet

__all__ = [
    "EXAMPLES",
    "Synth",
    "SynthError",
    "__version__",
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
