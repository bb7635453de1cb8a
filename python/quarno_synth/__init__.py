"""Deterministic synthetic market data: candles, order books, trades and funding."""

from ._quarno_synth import Synth, __version__
from .api import generate, generate_text, open_synth, validate
from .errors import SynthError
from .examples import EXAMPLES, example_spec, example_text
from .plot import plot
from .tables import to_arrow, to_pandas

__all__ = [
    "EXAMPLES",
    "Synth",
    "SynthError",
    "__version__",
    "example_spec",
    "example_text",
    "generate",
    "generate_text",
    "open_synth",
    "plot",
    "to_arrow",
    "to_pandas",
    "validate",
]
