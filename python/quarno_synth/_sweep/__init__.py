"""Sweeps, one module per job: planning the runs, the manifest, the worker's task, running the
tasks on an executor, and the Dask cluster. ``quarno_synth.sweep`` is the public face."""
