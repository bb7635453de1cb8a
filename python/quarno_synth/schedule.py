"""Reading the regime schedule and the bar count back out of a (valid) spec."""

from __future__ import annotations

from typing import Any, NamedTuple, Sequence

from . import _json

# Position of each field in the array form of a spec and of a regime.
_SPEC_FIELDS = ("seed", "bars", "start_price", "start_ts", "bar_secs", "regimes", "microstructure")
_REGIME_FIELDS = ("kind", "len", "drift", "vol")


class RegimeSpan(NamedTuple):
    """Bars ``start`` (inclusive) to ``stop`` (exclusive) run under regime ``kind``."""

    kind: str
    start: int
    stop: int


def _field(record: Any, fields: Sequence[str], name: str) -> Any:
    if isinstance(record, dict):
        return record.get(name)
    if isinstance(record, list):
        index = fields.index(name)
        return record[index] if index < len(record) else None
    return None


def _kind_name(kind: Any) -> str:
    # a kind is "trend" or the single-member object form {"trend": null}
    if isinstance(kind, dict) and len(kind) == 1:
        return next(iter(kind))
    return str(kind)


def as_spec_value(spec: Any) -> Any:
    """A spec given as JSON text parsed into Python values; other values as they are."""
    if isinstance(spec, (str, bytes, bytearray)):
        return _json.loads(bytes(spec) if not isinstance(spec, str) else spec)
    return spec


def regime_spans(spec: Any) -> list[RegimeSpan]:
    """The regimes of ``spec`` (dict, array form or JSON text) as consecutive bar ranges."""
    regimes = _field(as_spec_value(spec), _SPEC_FIELDS, "regimes") or []
    spans = []
    start = 0
    for regime in regimes:
        length = int(_field(regime, _REGIME_FIELDS, "len") or 0)
        spans.append(
            RegimeSpan(_kind_name(_field(regime, _REGIME_FIELDS, "kind")), start, start + length)
        )
        start += length
    return spans


def bar_count(spec: Any) -> int | None:
    """The spec's number of bars, or None when it cannot be read."""
    try:
        bars = _field(as_spec_value(spec), _SPEC_FIELDS, "bars")
    except ValueError:
        return None
    return bars if isinstance(bars, int) else None
