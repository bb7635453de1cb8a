"""Assets made in blocks: the runs of consecutive assets with one book depth fill one native
batch, run after run, with the interpreter lock released; blocks go to a pool of threads.

A block's columns hold asset after asset exactly as each asset's own run makes them, so the
tables do not depend on how the assets are cut into blocks or on the number of threads.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any

from .._columns import fill_runs
from .._schema import book_rows_per_bar
from ..batches import RawColumns, open_run, raw_columns
from ..errors import SynthError
from .document import Universe

# Column bytes per block at most (a bar of depth d takes about 16 (2 d + 6) bytes).
BLOCK_BYTES = 256 << 20


@dataclass
class Block:
    """The raw columns of consecutive assets and each one's rows per table."""

    first: int  # index of the block's first asset in the universe
    raw: RawColumns
    counts: list[tuple[int, int, int]]  # per asset: bars, trades, funding points

    def rows(self, table: str, book: str) -> list[int]:
        """Rows of each asset in ``table``."""
        if table == "candles":
            return [bars for bars, _, _ in self.counts]
        if table == "book":
            per_bar = book_rows_per_bar(self.raw.depth, book)
            return [bars * per_bar for bars, _, _ in self.counts]
        if table == "trades":
            return [trades for _, trades, _ in self.counts]
        return [funding for _, _, funding in self.counts]

    def codes(self, np: Any, table: str, book: str) -> Any:
        """Each row's asset index in the universe (int32)."""
        indices = np.arange(self.first, self.first + len(self.counts), dtype=np.int32)
        return np.repeat(indices, self.rows(table, book))


def _depth(spec: dict[str, Any]) -> Any:
    micro = spec.get("microstructure")
    return micro.get("book_depth") if isinstance(micro, dict) else None


def plan_blocks(universe: Universe, workers: int) -> list[range]:
    """Consecutive asset ranges, one book depth each, about two per worker."""
    specs = universe.specs
    total_bytes = sum(16 * (2 * (_depth(s) or 1) + 6) * s["bars"] for s in specs)
    wanted = max(1 if workers == 1 else 2 * workers, math.ceil(total_bytes / BLOCK_BYTES))
    size = max(1, math.ceil(len(specs) / wanted))
    blocks: list[range] = []
    start = 0
    for i in range(1, len(specs) + 1):
        if i == len(specs) or i - start == size or _depth(specs[i]) != _depth(specs[start]):
            blocks.append(range(start, i))
            start = i
    return blocks


def asset_run(universe: Universe, index: int, labels: bool = False) -> Any:
    """The fresh run of asset ``index`` (with its labels when ``labels``); its errors name the
    asset."""
    try:
        return open_run(universe.specs[index], labels)
    except SynthError as exc:
        raise SynthError(f'universe: asset "{universe.symbols[index]}": {exc}') from None


def make_block(
    np: Any, universe: Universe, assets: range, runs: Any = None, labels: bool = False
) -> Block:
    """Every bar of the assets in ``assets``, in one batch (``runs``: their fresh runs, made
    here, with their labels when ``labels``, when not given)."""
    if runs is None:
        runs = [asset_run(universe, i, labels) for i in assets]
    batch, counts = fill_runs(list(runs))
    return Block(assets.start, raw_columns(np, batch, 0, 0), list(counts))


def make_blocks(
    np: Any, universe: Universe, threads: int | None, labels: bool = False
) -> list[Block]:
    """The universe's blocks, made on ``threads`` threads (default one per core)."""
    return for_blocks(
        universe, threads, lambda assets: make_block(np, universe, assets, labels=labels)
    )


def for_blocks(universe: Universe, threads: int | None, work: Any) -> list[Any]:
    """``work(assets)`` for every block of the universe, on ``threads`` threads."""
    from .tables import parallel_map, worker_count

    workers = worker_count(threads, len(universe))
    return parallel_map(work, plan_blocks(universe, workers), workers)
