"""Universes: many correlated instruments in one run.

A universe document names a factor seed, the shared factors and the assets, each with its
own spec and its loadings on the factors (or a correlation matrix turned into loadings).
Every asset is expanded into its own spec, so assets generate independently: on threads,
processes or a cluster, always with the same bytes.
"""

from .correlation import loadings_from_correlation
from .cross_section import cross_section
from .document import Universe, is_universe, load_universe
from .facts import correlation_facts
from .make import make_universe
from .tables import (
    universe_arrays,
    universe_arrow,
    universe_batches,
    universe_frames,
    universe_polars,
)

__all__ = [
    "Universe",
    "correlation_facts",
    "cross_section",
    "is_universe",
    "load_universe",
    "loadings_from_correlation",
    "make_universe",
    "universe_arrays",
    "universe_arrow",
    "universe_batches",
    "universe_frames",
    "universe_polars",
]
