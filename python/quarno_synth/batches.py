"""Runs made batch by batch by the native module, and their raw columns as numpy arrays.

A batch's columns are zero-copy views of the batch's memory: the arrays keep the batch
alive, and the batch is freed once the last array made from it is gone.
"""

from __future__ import annotations

from collections.abc import Iterator
from dataclasses import dataclass
from typing import Any

from ._columns import Batch, Run, check_wide_book
from ._memory import TARGET_BATCH_BYTES, default_batch_bars, physical_memory, worth_batching
from ._options import check_batch_bars, check_book, check_labels
from ._schema import BOOK_FORMS, LABEL_COLUMNS, RAW_COLUMNS
from ._spec_text import Spec, as_text, is_text, to_json

# Names other modules took from here before each rule had its own module.
__all__ = [
    "BOOK_FORMS",
    "RAW_COLUMNS",
    "TARGET_BATCH_BYTES",
    "RawColumns",
    "batch_size",
    "check_book",
    "check_labels",
    "check_spec",
    "concat_raw",
    "iter_raw",
    "open_run",
    "physical_memory",
    "raw_columns",
    "whole_run",
]


def open_run(spec: Spec, labels: bool = False) -> Run:
    """A native run of ``spec`` in the extended language: a dict or list is read as a command's
    "spec" member, a text (str or UTF-8 bytes) as a spec text; a rejected spec raises
    SynthError. With ``labels`` every batch carries the bars' labels.

    A spec with universe factors reads them from the process's shared factor path."""
    from .universe.factor_paths import shared_path

    labels = check_labels(labels)
    if is_text(spec):
        text = as_text(spec)
        return Run(text, labels=labels, factors=shared_path(text))
    return Run(to_json(spec), document=True, labels=labels, factors=shared_path(spec))


def check_spec(spec: Spec) -> None:
    """None when ``spec`` is valid in the extended language, else SynthError with the reason.

    A valid spec whose run cannot fit in this machine's memory passes: the run reports that.
    """
    try:
        open_run(spec)
    except MemoryError:  # raised only once the spec has passed validation
        pass


def check_book_fits(run: Run, book: str) -> None:
    """MemoryError, before anything is made, when the wide book of ``run`` has more columns
    than this machine can hold (its header and column objects grow with book_depth alone)."""
    if book == "wide":
        check_wide_book(run.book_depth)


def batch_size(run: Run, batch_bars: int | None) -> int:
    """``batch_bars`` checked, or about TARGET_BATCH_BYTES of columns' worth of bars."""
    if batch_bars is None:
        return default_batch_bars(run.bar_bytes)
    return check_batch_bars(batch_bars)


@dataclass
class RawColumns:
    """The raw columns of consecutive bars, and where their rows sit in the whole run."""

    bars: int
    depth: int
    first_bar: int
    first_trade: int
    first_funding: int
    arrays: dict[str, Any]
    # The batch the arrays view, when they come from a single one.
    batch: Batch | None = None
    # A tick run: trades carry ts_ns, the book is stamped with the bar's close.
    ticks: bool = False
    # The run's bar length in seconds (0 when unknown).
    bar_secs: int = 0

    @property
    def trades(self) -> int:
        return len(self.arrays["trade_ts"])

    @property
    def funding_points(self) -> int:
        return len(self.arrays["funding_ts"])

    @property
    def labels(self) -> bool:
        return "label_regime" in self.arrays


def raw_columns(np: Any, batch: Batch, first_trade: int, first_funding: int) -> RawColumns:
    """Zero-copy numpy views of one batch's columns (and its labels when it has them)."""
    names = {**RAW_COLUMNS, **LABEL_COLUMNS} if batch.labels else RAW_COLUMNS
    arrays = {name: np.frombuffer(batch.column(name), dtype=dtype) for name, dtype in names.items()}
    return RawColumns(
        batch.bars,
        batch.book_depth,
        batch.first_bar,
        first_trade,
        first_funding,
        arrays,
        batch,
        batch.ticks,
    )


def iter_raw(np: Any, run: Run, max_bars: int) -> Iterator[RawColumns]:
    """The run's remaining bars, batch by batch."""
    trades = funding = 0
    while True:
        batch = run.next_batch(max_bars)
        if batch is None:
            return
        raw = raw_columns(np, batch, trades, funding)
        raw.bar_secs = run.bar_secs
        trades += raw.trades
        funding += raw.funding_points
        yield raw


def whole_run(np: Any, spec: Spec, labels: bool = False, book: str = "long") -> list[RawColumns]:
    """Every bar of ``spec``: one batch when it fits in memory, else batches of the default size.

    A run the native budget refuses as one batch is refused at once. Only when one batch
    fails in an allocation are batches gathered instead, and only when the result fits twice
    (the batches and the tables joined from them): a run that cannot fit fails at once rather
    than after filling the memory.
    """
    run = open_run(spec, labels)
    check_book_fits(run, book)
    try:
        return list(iter_raw(np, run, run.bars))
    except MemoryError:
        if not worth_batching(run.bars, run.bar_bytes):
            raise
    run = open_run(spec, labels)
    return list(iter_raw(np, run, batch_size(run, None)))


def concat_raw(np: Any, parts: list[RawColumns]) -> RawColumns:
    """One RawColumns of consecutive parts (the part itself when there is one)."""
    if len(parts) == 1:
        return parts[0]
    first = parts[0]
    arrays = {name: np.concatenate([p.arrays[name] for p in parts]) for name in first.arrays}
    bars = sum(p.bars for p in parts)
    return RawColumns(
        bars, first.depth, first.first_bar, 0, 0, arrays, ticks=first.ticks, bar_secs=first.bar_secs
    )
