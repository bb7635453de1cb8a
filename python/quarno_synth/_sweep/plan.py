"""From the arguments to the list of runs: seeds, specs and each run's exact spec text."""

from __future__ import annotations

import copy
import operator
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

from .._spec_text import (
    SPEC_FIELDS,
    Spec,
    exact_value,
    field,
    is_text,
    run_cost,
    sweep_text,
    with_seed,
)
from ..batches import open_run
from ..errors import SynthError
from .errors import SweepError

_SEED_LIMIT = 2**64


def parse_seeds(text: str) -> Sequence[int]:
    """Seeds from ``A:B`` (half-open, like ``range(A, B)``), ``A:B:STEP`` or a single ``N``."""
    parts = text.strip().split(":")
    try:
        numbers = [int(part, 10) for part in parts]
    except ValueError:
        raise SweepError(
            f"seeds '{text}': expected START:STOP (e.g. 0:1000), START:STOP:STEP or one seed"
        ) from None
    if len(numbers) == 1:
        numbers.append(numbers[0] + 1)
    if len(numbers) > 3 or (len(numbers) == 3 and numbers[2] <= 0):
        raise SweepError(f"seeds '{text}': expected START:STOP[:STEP] with STEP > 0")
    seeds = range(*numbers)
    if len(seeds) == 0:
        raise SweepError(f"seeds '{text}' is an empty range (the stop is excluded, like range())")
    return checked_seeds(seeds, f"'{text}'")


def checked_seeds(seeds: Sequence[Any], label: str) -> Sequence[int]:
    """``seeds`` when every one is a distinct integer from 0 to 2^64 - 1; SweepError else."""
    if len(seeds) == 0:
        raise SweepError("seeds is empty: give at least one seed")
    if isinstance(seeds, range):
        low, high = (seeds[0], seeds[-1]) if seeds.step > 0 else (seeds[-1], seeds[0])
        if low < 0 or high >= _SEED_LIMIT:
            raise SweepError(f"seeds {label}: seeds are from 0 to 2^64 - 1")
        return seeds
    try:
        if any(isinstance(seed, bool) for seed in seeds):
            raise TypeError
        numbers = [operator.index(seed) for seed in seeds]  # numpy integers too
    except TypeError:
        raise SweepError("seeds must be integers from 0 to 2^64 - 1") from None
    for seed in numbers:
        if not 0 <= seed < _SEED_LIMIT:
            raise SweepError(f"seed {seed} is not an integer from 0 to 2^64 - 1")
    if len(set(numbers)) != len(numbers):
        raise SweepError("seeds repeat: every seed names one partition, give each once")
    return numbers


@dataclass(frozen=True)
class Run:
    """One run of a sweep, as its manifest records it."""

    index: int  # position in the manifest
    keys: tuple[tuple[str, Any], ...]  # partition keys, e.g. (("seed", 17),)
    spec: str  # the exact spec text the run is made from
    error: str | None  # the spec was rejected before the sweep started
    cost: int

    @property
    def partition(self) -> str | None:
        if self.error is not None:
            return None
        return "/".join(f"{name}={value}" for name, value in self.keys)


def _read(spec: Spec) -> tuple[Any, str]:
    """(spec value, spec text) of a spec the table writers accept (the extended language);
    SynthError otherwise."""
    text = sweep_text(spec)
    if not is_text(spec):
        open_run(spec)
        return copy.deepcopy(spec), text
    open_run(text)  # the reader's own error, with its position
    return exact_value(text), text  # the value again, to put other seeds into it


def plan(spec: Spec | None, seeds: Any, specs: Sequence[Spec] | None) -> list[Run]:
    """The runs of a sweep: ``spec`` over ``seeds``, or every one of ``specs`` (crossed with
    ``seeds`` when given). A rejected spec makes runs that record its error."""
    if (spec is None) == (specs is None):
        raise SweepError("give either one spec with seeds, or specs (a list of specs)")
    if isinstance(seeds, str):
        seeds = parse_seeds(seeds)
    elif seeds is not None:
        seeds = checked_seeds(seeds if isinstance(seeds, range) else list(seeds), repr(seeds))
    if spec is not None:
        if seeds is None:
            raise SweepError("a sweep over one spec needs seeds (e.g. seeds=range(1000))")
        return _seed_runs(spec, seeds)
    if isinstance(specs, (str, bytes, bytearray, Mapping)):
        raise SweepError("specs is a list of specs; for one spec give spec= and seeds=")
    assert specs is not None
    listed = list(specs)
    if not listed:
        raise SweepError("specs is empty: give at least one spec")
    return _grid_runs(listed, seeds)


def _seed_runs(spec: Spec, seeds: Sequence[int]) -> list[Run]:
    try:
        value, _ = _read(spec)
    except SynthError as exc:  # every seed fails alike, and each run records it
        text = _text_or_repr(spec)
        return [Run(i, (("seed", s),), text, str(exc), 0) for i, s in enumerate(seeds)]
    cost = run_cost(value)
    return [Run(i, (("seed", s),), with_seed(value, s), None, cost) for i, s in enumerate(seeds)]


def _grid_runs(specs: list[Spec], seeds: Sequence[int] | None) -> list[Run]:
    runs: list[Run] = []
    for number, spec in enumerate(specs):
        try:
            value, text = _read(spec)
        except SynthError as exc:
            for seed in seeds if seeds is not None else [None]:
                keys = (("run", number), ("seed", seed))
                runs.append(Run(len(runs), keys, _text_or_repr(spec), str(exc), 0))
            continue
        cost = run_cost(value)
        if seeds is None:
            keys = (("run", number), ("seed", field(value, SPEC_FIELDS, "seed")))
            runs.append(Run(len(runs), keys, text, None, cost))
            continue
        for seed in seeds:
            keys = (("run", number), ("seed", seed))
            runs.append(Run(len(runs), keys, with_seed(value, seed), None, cost))
    return runs


def _text_or_repr(spec: Spec) -> str:
    try:
        return sweep_text(spec)
    except SynthError:
        return repr(spec)
