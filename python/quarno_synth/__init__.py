"""Deterministic synthetic market data: candles, order books, trades and funding."""

from ._quarno_synth import Synth, __version__

__all__ = ["Synth", "__version__"]
