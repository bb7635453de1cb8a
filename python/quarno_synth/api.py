"""Generating from Python: specs as dicts or JSON text, results as parsed documents."""

from __future__ import annotations

from typing import Any, Mapping, Sequence, Union

from . import _json
from ._quarno_synth import Synth
from .errors import SynthError

Spec = Union[Mapping[str, Any], Sequence[Any], str, bytes, bytearray]

# The handle trims exactly this set (Unicode White_Space) before reading a spec text.
_WHITE_SPACE = (
    "\t\n\v\f\r \x85\xa0\u1680"
    + "".join(chr(c) for c in range(0x2000, 0x200B))
    + "\u2028\u2029\u202f\u205f\u3000"
)

# A handle reads an empty text or "{}" as "no spec yet"; as a spec of its own such a text is
# the reader's error for it (positions count from the trimmed text).
_NO_SPEC_ERRORS = {
    "": "parse: EOF while parsing a value at line 1 column 0",
    "{}": "parse: missing field `seed` at line 1 column 2",
}

_ERROR_PREFIX = '{"ok":false,'


def _as_text(spec: str | bytes | bytearray) -> str:
    if isinstance(spec, str):
        return spec
    try:
        return bytes(spec).decode("utf-8")
    except UnicodeDecodeError as exc:
        raise SynthError(
            f"spec text is not UTF-8 (byte 0x{exc.object[exc.start]:02x} at offset {exc.start})"
        ) from None


def _checked(response: str) -> str:
    """The response itself, or SynthError when it is the error envelope."""
    if response.startswith(_ERROR_PREFIX):
        raise SynthError(_json.loads(response)["error"])
    return response


def open_synth(spec_text: str | bytes | bytearray) -> Synth:
    """A handle holding the spec read from ``spec_text`` (errors carry line and column).

    Unlike ``Synth("")`` and ``Synth("{}")``, an empty text is an error here, not a handle
    without a spec.
    """
    text = _as_text(spec_text)
    trimmed = text.strip(_WHITE_SPACE)
    if trimmed in _NO_SPEC_ERRORS:
        raise SynthError(_NO_SPEC_ERRORS[trimmed])
    try:
        return Synth(text)
    except ValueError as exc:
        raise SynthError(str(exc)) from None


def _command_with_spec(cmd: str, spec: Spec) -> str:
    if isinstance(spec, (str, bytes, bytearray)):
        return _checked(open_synth(spec).command(_json.dumps({"cmd": cmd})))
    try:
        spec_json = _json.dumps(spec)
    except (TypeError, ValueError) as exc:
        raise SynthError(f"spec is not representable as JSON: {exc}") from None
    command = '{"cmd":' + _json.dumps(cmd) + ',"spec":' + spec_json + "}"
    return _checked(Synth("").command(command))


def validate(spec: Spec) -> None:
    """Return None when ``spec`` is a valid spec, else raise SynthError with the reason."""
    if isinstance(spec, (str, bytes, bytearray)):
        open_synth(spec)  # reading a text validates it
    else:
        _command_with_spec("set_spec", spec)


def generate_text(spec: Spec, *, stream: bool = False) -> str:
    """The exact response text of "generate" (or "generate_stream" when ``stream``)."""
    return _command_with_spec("generate_stream" if stream else "generate", spec)


def generate(spec: Spec, *, stream: bool = False) -> dict[str, Any]:
    """Generate a run and return the parsed document.

    ``spec`` is a dict (or list, the array form) or a JSON text. The result is the grouped
    document {"candles", "book_snapshots", "trades"[, "funding"]}, or {"events"} when
    ``stream`` is true. Raises SynthError with the rendered error on any failure.
    """
    return _json.loads(generate_text(spec, stream=stream))
