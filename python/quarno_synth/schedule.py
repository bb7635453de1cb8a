"""Reading the regime schedule and the bar count back out of a (valid) spec."""

from __future__ import annotations

from typing import Any, NamedTuple

from ._spec_text import REGIME_FIELDS, SPEC_FIELDS, field, parse_value

__all__ = ["RegimeSpan", "bar_count", "regime_spans"]


class RegimeSpan(NamedTuple):
    """Bars ``start`` (inclusive) to ``stop`` (exclusive) run under regime ``kind``."""

    kind: str
    start: int
    stop: int


def _kind_name(kind: Any) -> str:
    # a kind is "trend" or the single-member object form {"trend": null}
    if isinstance(kind, dict) and len(kind) == 1:
        return str(next(iter(kind)))
    return str(kind)


# The older name of the spec-text helper, for code that imported it from here.
as_spec_value = parse_value


def regime_spans(spec: Any) -> list[RegimeSpan]:
    """The regimes of ``spec`` (dict, array form or JSON text) as consecutive bar ranges."""
    regimes = field(parse_value(spec), SPEC_FIELDS, "regimes") or []
    spans = []
    start = 0
    for regime in regimes:
        length = int(field(regime, REGIME_FIELDS, "len") or 0)
        spans.append(
            RegimeSpan(_kind_name(field(regime, REGIME_FIELDS, "kind")), start, start + length)
        )
        start += length
    return spans


def bar_count(spec: Any) -> int | None:
    """The spec's number of bars, or None when it cannot be read."""
    try:
        bars = field(parse_value(spec), SPEC_FIELDS, "bars")
    except ValueError:
        return None
    return bars if isinstance(bars, int) else None
