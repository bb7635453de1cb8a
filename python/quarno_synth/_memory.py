"""How much memory a run takes, and how big its batches are.

The native module keeps its own budget (it refuses a batch that cannot fit); this module
holds the package's side of the sizing: the default batch size, when a whole run is better
made in batches, and the mean number of trades per bar.
"""

from __future__ import annotations

import os

# Column bytes per batch when the caller gives no batch size: big enough that per-batch
# overhead vanishes, small enough that a file writer's memory stays bounded.
TARGET_BATCH_BYTES = 64 << 20

# A whole run gathered from batches exists twice at its end (the batches and the tables
# joined from them): beyond half the physical memory it would only fill the memory and fail.
_WHOLE_RUN_COPIES = 2

# The classic Poisson draw of trades per bar stops growing here (the native budget caps it
# alike); the tick model's count does not.
_TRADE_RATE_CAP = 746.0

# The hint that ends an out-of-memory report. Known divergence: the command line's wording
# differs from the one a sweep records in its manifest; both stay as they are.
OUT_OF_MEMORY = "out of memory: the run does not fit (reduce bars, book_depth or trade_rate)"
SWEEP_OUT_OF_MEMORY = "out of memory: the run does not fit (bars, book_depth, trade_rate)"


def mean_trades_per_bar(trade_rate: float, ticks: bool = False) -> float:
    """The mean number of trades a bar holds at ``trade_rate`` (``ticks``: a tick run)."""
    rate = float(trade_rate)
    if not rate > 0.0:
        return 0.0
    return rate if ticks or rate < _TRADE_RATE_CAP else _TRADE_RATE_CAP


def default_batch_bars(bar_bytes: int) -> int:
    """Bars per batch for about TARGET_BATCH_BYTES of columns."""
    return max(1, int(TARGET_BATCH_BYTES // max(1, bar_bytes)))


def physical_memory() -> int | None:
    """The machine's physical memory in bytes, or None where it cannot be read."""
    try:
        return os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")
    except (AttributeError, ValueError, OSError):
        return None


def worth_batching(bars: int, bar_bytes: int) -> bool:
    """Whether a run whose one batch failed in an allocation fits made batch by batch and
    joined. A run the native budget refuses as one batch never does: it fails at once."""
    memory = physical_memory()
    return memory is not None and _WHOLE_RUN_COPIES * bars * bar_bytes <= memory
