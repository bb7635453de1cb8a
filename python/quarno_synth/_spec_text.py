"""Specs as the native reader takes them: text decoding, white space, dict -> JSON, the array
form's field positions, another seed put in, and the rough cost of a run.

A spec is a dict (or list, the array form) read as a command's "spec" member, or a JSON text
(str or UTF-8 bytes) read by the handle with line and column in its errors.
"""

from __future__ import annotations

import json
from collections.abc import Mapping, Sequence
from typing import Any, TypeGuard

from . import _json
from ._memory import mean_trades_per_bar
from .errors import SynthError

Spec = Mapping[str, Any] | Sequence[Any] | str | bytes | bytearray

# The handle trims exactly this set (Unicode White_Space) before reading a spec text.
WHITE_SPACE = (
    "\t\n\v\f\r \x85\xa0\u1680"
    + "".join(chr(c) for c in range(0x2000, 0x200B))
    + "\u2028\u2029\u202f\u205f\u3000"
)

# A handle reads an empty text or "{}" as "no spec yet"; as a spec of its own such a text is
# the reader's error for it (positions count from the trimmed text).
NO_SPEC_ERRORS = {
    "": "parse: EOF while parsing a value at line 1 column 0",
    "{}": "parse: missing field `seed` at line 1 column 2",
}

# Position of each field in the array form of a spec and of its records.
SPEC_FIELDS = ("seed", "bars", "start_price", "start_ts", "bar_secs", "regimes", "microstructure")
REGIME_FIELDS = ("kind", "len", "drift", "vol")
MICROSTRUCTURE_FIELDS = ("book_depth", "spread_bps", "trade_rate", "funding")


def is_text(spec: object) -> TypeGuard[str | bytes | bytearray]:
    """Whether ``spec`` is a spec text (str or bytes) rather than a value."""
    return isinstance(spec, (str, bytes, bytearray))


def bad_byte(data: bytes, exc: UnicodeDecodeError) -> str:
    """Where a text stops being UTF-8: "byte 0x.. at offset N"."""
    return f"byte 0x{data[exc.start]:02x} at offset {exc.start}"


def as_text(spec: str | bytes | bytearray) -> str:
    """A spec text as str; bytes must be UTF-8 (SynthError naming the first bad byte)."""
    if isinstance(spec, str):
        return spec
    data = bytes(spec)
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as exc:
        raise SynthError(f"spec text is not UTF-8 ({bad_byte(data, exc)})") from None


def to_json(spec: Any) -> str:
    """A spec value (dict or list) as compact JSON text."""
    try:
        return _json.dumps(spec)
    except (TypeError, ValueError) as exc:
        raise SynthError(f"spec is not representable as JSON: {exc}") from None


def sweep_text(spec: Spec) -> str:
    """The exact text a sweep records and runs: a text as it is, a value as JSON.

    Known divergence: the bad-byte wording here ("byte at offset N") differs from
    ``as_text``; it is written into sweep manifests, so it stays.
    """
    if isinstance(spec, str):
        return spec
    if isinstance(spec, (bytes, bytearray)):
        try:
            return bytes(spec).decode("utf-8")
        except UnicodeDecodeError as exc:
            raise SynthError(f"spec text is not UTF-8 (byte at offset {exc.start})") from None
    return to_json(spec)


def parse_value(spec: Any) -> Any:
    """A spec given as JSON text parsed into Python values; other values as they are."""
    if isinstance(spec, (str, bytes, bytearray)):
        return _json.loads(bytes(spec) if not isinstance(spec, str) else spec)
    return spec


def exact_value(text: str) -> Any:
    """The value of an accepted spec text, with integers of any size kept exact."""
    try:
        value = json.loads(text.strip(WHITE_SPACE))
        _json.dumps(value)
    except ValueError as exc:
        raise SynthError(f"spec is not representable as JSON: {exc}") from None
    return value


def field(record: Any, fields: Sequence[str], name: str) -> Any:
    """Member ``name`` of a record in object or array form (None when absent)."""
    if isinstance(record, Mapping):
        return record.get(name)
    if isinstance(record, list):
        index = fields.index(name)
        return record[index] if index < len(record) else None
    return None


def with_seed(value: Any, seed: int) -> str:
    """The JSON text of spec ``value`` with its seed replaced by ``seed``."""
    if isinstance(value, Mapping):
        value = dict(value, seed=seed)
    else:
        value = [seed, *value[1:]]
    return _json.dumps(value)


def run_cost(value: Any) -> int:
    """Values a run produces, roughly: bars x (candle + book levels + trades); 1 when unknown."""
    try:
        micro = field(value, SPEC_FIELDS, "microstructure")
        depth = field(micro, MICROSTRUCTURE_FIELDS, "book_depth")
        rate = mean_trades_per_bar(field(micro, MICROSTRUCTURE_FIELDS, "trade_rate"))
        return max(1, int(field(value, SPEC_FIELDS, "bars") * (6 + 4 * depth + 5 * rate)))
    except (TypeError, ValueError, OverflowError):
        return 1
