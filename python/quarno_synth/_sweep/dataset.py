"""``generate_dataset``: plan the runs, claim the directory, run them, write the manifest."""

from __future__ import annotations

import concurrent.futures as cf
import os
import warnings
from collections.abc import Iterable, Sequence
from pathlib import Path
from typing import Any

from .._optional import require
from .._options import sweep_option_error
from .._spec_text import Spec
from .errors import OnRuns, SweepError
from .execute import check_files, execute
from .manifest import (
    check_directory,
    header,
    locked,
    manifest,
    recorded_runs,
    remove_stale_manifests,
    write_manifest,
)
from .plan import plan


def generate_dataset(
    spec: Spec | None = None,
    *,
    seeds: Iterable[int] | str | None = None,
    specs: Sequence[Spec] | None = None,
    path: str | os.PathLike[str],
    executor: cf.Executor | None = None,
    max_workers: int | None = None,
    book: str = "long",
    batch_bars: int | None = None,
    labels: bool = False,
    on_runs: OnRuns | None = None,
) -> dict[str, Any]:
    """Write many runs into one Parquet dataset in directory ``path``; return its manifest.

    Either ``spec`` with ``seeds`` (the spec's own seed replaced by each one; a range, a list,
    or a text "0:1000"), or ``specs``, a list of specs (each with its own seed, or crossed with
    ``seeds``). Each table goes to ``path/<table>/seed=<seed>/part-0.parquet`` (with specs:
    ``path/<table>/run=<i>/seed=<seed>/part-0.parquet``, ``i`` the spec's position) and
    ``path/manifest.json`` records every run: its spec text, row counts and file digests, or
    its error. A run whose spec is rejected or fails is recorded and the others go on.

    ``spec`` may be a universe: one run per asset, partitioned by ``symbol``
    (``path/<table>/symbol=<S>/part-0.parquet``), or with ``seeds`` by seed and symbol
    (``seed=<N>/symbol=<S>``: the universe of seed N has every asset's seed and the factor
    seed moved by N). Tasks take blocks of consecutive assets.

    Runs go to ``executor`` when given (any ``concurrent.futures.Executor``), else to a pool of
    ``max_workers`` processes (all cores by default; 1 runs them in this process). A directory
    holding this sweep already is resumed: finished runs are kept. ``on_runs(done, total)`` is
    called as runs finish. ``labels=True`` appends the bars' labels to the candles.

    A resume checks the files of every finished run against the sizes and digests its
    manifest records, and makes again any run whose files do not match (damaged, truncated,
    swapped); it says so in one RuntimeWarning.

    Returns
    -------
    dict
        The manifest, as written to ``path/manifest.json``.

    Raises
    ------
    SweepError
        Arguments that cannot make a sweep, before anything is written.
    SweepFailed
        A worker died; start the sweep again to finish it.
    OSError
        A write failed.
    KeyboardInterrupt
        Nothing partial is left behind.

    Examples
    --------
    >>> manifest = qs.generate_dataset(
    ...     qs.example_spec("deep_book"), seeds="0:3", path="deep", max_workers=1
    ... )
    >>> [run["seed"] for run in manifest["runs"]], manifest["summary"]["failed"]
    ([0, 1, 2], 0)
    """
    problem = sweep_option_error(book, batch_bars, max_workers)
    if problem is not None:
        raise SweepError(problem)
    if not isinstance(labels, bool):
        raise SweepError(f"labels must be True or False, not {labels!r}")
    require("pyarrow.parquet", "arrow", "sweeps (Parquet datasets)")
    runs = plan(spec, seeds, specs)
    root = Path(path).absolute()
    head = header(runs, book, batch_bars, labels)
    check_directory(root, head, runs)
    root.mkdir(parents=True, exist_ok=True)
    with locked(root):
        found = check_directory(root, head, runs)
        remove_stale_manifests(root)
        if found is None:
            write_manifest(root, manifest(head, runs, {}))
        recorded = recorded_runs(found, runs) if found is not None else {}
        results = execute(
            runs, root, book, batch_bars, labels, executor, max_workers, on_runs, recorded
        )
        check_files(root, results)
        _report_remade(root, results)
        done = manifest(head, runs, results)
        write_manifest(root, done)
    return done


def _report_remade(root: Path, results: dict[int, dict[str, Any]]) -> None:
    remade = [result["remade"] for _, result in sorted(results.items()) if "remade" in result]
    if remade:
        runs = "run" if len(remade) == 1 else "runs"
        warnings.warn(
            f"'{root}': made {len(remade):,} {runs} again whose files did not match the "
            f"manifest (first: {remade[0]})",
            RuntimeWarning,
            stacklevel=3,
        )
