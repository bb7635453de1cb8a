"""Factor paths drawn once per process and shared read-only by the runs of a universe's assets.

A run given a path reads its shocks from it; without one it draws the very same shocks
itself, so sharing changes the speed and never the bytes. Paths are kept per (factor seed,
count, jumps); a longer path serves runs of fewer bars (its bars are a prefix).
"""

from __future__ import annotations

import threading
from collections import OrderedDict
from collections.abc import Mapping
from typing import Any

from .. import _json
from .._columns import FactorPath

# Paths larger than this many doubles are not kept: runs draw their own shocks instead.
MAX_SHARED_VALUES = 1 << 23
_KEPT = 4

_lock = threading.Lock()
_paths: OrderedDict[tuple[Any, ...], FactorPath] = OrderedDict()


def _key(factors: Mapping[str, Any]) -> tuple[Any, ...] | None:
    try:
        jumps = factors.get("jumps")
        jumps_key = None if jumps is None else (jumps["rate"], jumps["mean"], jumps["vol"])
        return (int(factors["seed"]), int(factors["count"]), jumps_key)
    except (AttributeError, KeyError, TypeError, ValueError):
        return None  # the run's own reader reports what is wrong


def shared_path(spec: Any) -> FactorPath | None:
    """The process's path for the factors of ``spec`` (a dict or a JSON text), or None."""
    if isinstance(spec, (str, bytes, bytearray)):
        text = spec if isinstance(spec, str) else bytes(spec).decode("utf-8", "replace")
        if '"factors"' not in text:
            return None
        try:
            spec = _json.loads(text)
        except ValueError:
            return None
    if not isinstance(spec, Mapping) or not isinstance(spec.get("factors"), Mapping):
        return None
    key = _key(spec["factors"])
    bars = spec.get("bars")
    if key is None or not isinstance(bars, int) or bars < 1:
        return None
    seed, count, jumps = key
    if count < 1 or bars * count > MAX_SHARED_VALUES:
        return None
    with _lock:
        path = _paths.get(key)
        if path is not None and path.bars >= bars:
            _paths.move_to_end(key)
            return path
        try:
            path = FactorPath(seed, count, bars, jumps)
        except (ValueError, TypeError, OverflowError):
            return None
        _paths[key] = path
        while len(_paths) > _KEPT:
            _paths.popitem(last=False)
        return path
