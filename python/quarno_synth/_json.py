"""JSON in and out of the package: orjson for reading large documents when present."""

from __future__ import annotations

import importlib
import json
from typing import Any

_orjson: Any = None
try:  # orjson parses multi-megabyte responses several times faster
    _orjson = importlib.import_module("orjson")
except ImportError:  # pragma: no cover - depends on the environment
    pass


def loads(text: str | bytes) -> Any:
    """Parse a JSON text into Python values; ValueError for a text that is not JSON or is
    nested too deeply to read (as orjson refuses it, rather than RecursionError)."""
    if _orjson is not None:
        return _orjson.loads(text)
    try:
        return json.loads(text)
    except RecursionError:
        raise ValueError("JSON text nested too deeply") from None


def dumps(value: Any) -> str:
    """Compact JSON text for a spec or command.

    The standard library writes integers of any size exactly (orjson stops at 64 bits), and
    refusing NaN and infinity keeps non-JSON tokens away from the native reader.
    """
    return json.dumps(value, separators=(",", ":"), ensure_ascii=False, allow_nan=False)
