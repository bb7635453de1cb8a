"""Runs made batch by batch by the native module, and their raw columns as numpy arrays.

A batch's columns are zero-copy views of the batch's memory: the arrays keep the batch
alive, and the batch is freed once the last array made from it is gone.
"""

from __future__ import annotations

import os
from dataclasses import dataclass
from typing import Any, Iterator

from . import _json
from ._columns import Batch, Run
from .api import Spec, _as_text
from .errors import SynthError

# Column bytes per batch when the caller gives no batch size: big enough that per-batch
# overhead vanishes, small enough that a file writer's memory stays bounded.
TARGET_BATCH_BYTES = 64 << 20

# Raw batch columns and their element types.
RAW_COLUMNS: dict[str, str] = {
    "ts": "int64",
    "open": "float64",
    "high": "float64",
    "low": "float64",
    "close": "float64",
    "volume": "float64",
    "level_price": "float64",
    "level_qty": "float64",
    "trade_ts": "int64",
    "trade_seq": "uint64",
    "trade_price": "float64",
    "trade_qty": "float64",
    "trade_side": "uint8",
    "funding_ts": "int64",
    "funding_rate": "float64",
}

BOOK_FORMS = ("long", "wide")


def open_run(spec: Spec) -> Run:
    """A native run of ``spec``: a dict or list is read as a command's "spec" member, a text
    (str or UTF-8 bytes) as a spec text; a rejected spec raises SynthError.

    A spec with universe factors reads them from the process's shared factor path."""
    from .universe.factor_paths import shared_path

    if isinstance(spec, (str, bytes, bytearray)):
        text = _as_text(spec)
        return Run(text, factors=shared_path(text))
    try:
        document = _json.dumps(spec)
    except (TypeError, ValueError) as exc:
        raise SynthError(f"spec is not representable as JSON: {exc}") from None
    return Run(document, document=True, factors=shared_path(spec))


def check_book(book: str) -> str:
    if book not in BOOK_FORMS:
        raise ValueError(f'book must be "long" or "wide", not {book!r}')
    return book


def batch_size(run: Run, batch_bars: int | None) -> int:
    """``batch_bars`` checked, or about TARGET_BATCH_BYTES of columns' worth of bars."""
    if batch_bars is None:
        return max(1, int(TARGET_BATCH_BYTES // max(1, run.bar_bytes)))
    if isinstance(batch_bars, bool) or not isinstance(batch_bars, int):
        raise TypeError(f"batch_bars must be an int, not {type(batch_bars).__name__}")
    if batch_bars < 1:
        raise ValueError(f"batch_bars must be at least 1, not {batch_bars}")
    return batch_bars


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

    @property
    def trades(self) -> int:
        return len(self.arrays["trade_ts"])

    @property
    def funding_points(self) -> int:
        return len(self.arrays["funding_ts"])


def raw_columns(np: Any, batch: Batch, first_trade: int, first_funding: int) -> RawColumns:
    """Zero-copy numpy views of one batch's columns."""
    arrays = {
        name: np.frombuffer(batch.column(name), dtype=dtype) for name, dtype in RAW_COLUMNS.items()
    }
    return RawColumns(
        batch.bars, batch.book_depth, batch.first_bar, first_trade, first_funding, arrays, batch
    )


def iter_raw(np: Any, run: Run, max_bars: int) -> Iterator[RawColumns]:
    """The run's remaining bars, batch by batch."""
    trades = funding = 0
    while True:
        batch = run.next_batch(max_bars)
        if batch is None:
            return
        raw = raw_columns(np, batch, trades, funding)
        trades += raw.trades
        funding += raw.funding_points
        yield raw


def physical_memory() -> int | None:
    try:
        return os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")
    except (AttributeError, ValueError, OSError):
        return None


def whole_run(np: Any, spec: Spec) -> list[RawColumns]:
    """Every bar of ``spec``: one batch when it fits in memory, else batches of the default size.

    The native budget counts the trade columns' growth while one batch is made; batches of
    bounded size can still gather a run that one batch could not.
    """
    run = open_run(spec)
    try:
        return list(iter_raw(np, run, run.bars))
    except MemoryError:
        memory = physical_memory()
        # Far beyond the machine, many small batches would only take long to fail.
        if memory is None or run.bars * run.bar_bytes > 3 * memory:
            raise
    run = open_run(spec)
    return list(iter_raw(np, run, batch_size(run, None)))


def concat_raw(np: Any, parts: list[RawColumns]) -> RawColumns:
    """One RawColumns of consecutive parts (the part itself when there is one)."""
    if len(parts) == 1:
        return parts[0]
    first = parts[0]
    arrays = {name: np.concatenate([p.arrays[name] for p in parts]) for name in RAW_COLUMNS}
    return RawColumns(sum(p.bars for p in parts), first.depth, first.first_bar, 0, 0, arrays)
