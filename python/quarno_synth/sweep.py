"""Sweeps: many runs (one spec over many seeds, or a file of specs) into one Parquet dataset.

Every run is a pure function of its spec, so runs go to any ``concurrent.futures.Executor``
(a process pool by default, threads, or a Dask cluster's executor). Workers write their own
partitions, each under a temporary name and renamed once complete; only this process writes
``manifest.json``. A sweep started again with the same arguments skips the runs whose files
are all present and ends with the same dataset, byte for byte.
"""

from __future__ import annotations

from ._sweep.cluster import cluster_executor
from ._sweep.dataset import generate_dataset
from ._sweep.errors import OnRuns, SweepError, SweepFailed
from ._sweep.manifest import FORMAT, MANIFEST, PART_FILE, read_manifest
from ._sweep.plan import parse_seeds
from ._sweep.pool import process_pool

__all__ = [
    "FORMAT",
    "MANIFEST",
    "PART_FILE",
    "OnRuns",
    "SweepError",
    "SweepFailed",
    "cluster_executor",
    "generate_dataset",
    "parse_seeds",
    "process_pool",
    "read_manifest",
]
