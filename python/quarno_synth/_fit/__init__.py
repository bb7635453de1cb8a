"""Fitting a spec to a real series: data reading, the regime model, per-regime dynamics and
microstructure, the report and its chart. The public entry is ``quarno_synth.fit``."""
