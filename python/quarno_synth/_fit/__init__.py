"""Fitting a spec to a real series: data reading, the regime model, per-regime dynamics and
microstructure, the report and its chart. The public entry is ``quarno_synth.fit``."""

from .._optional import require

# Before any module of the package imports them: a missing one names the extra to install.
require("numpy", "fit", "quarno_synth.fit")
require("scipy", "fit", "quarno_synth.fit")
