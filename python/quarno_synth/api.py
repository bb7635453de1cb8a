"""Generating from Python: specs as dicts or JSON text, results as parsed documents."""

from __future__ import annotations

from typing import Any

from . import _json
from ._quarno_synth import Synth
from ._spec_text import NO_SPEC_ERRORS, WHITE_SPACE, Spec, as_text, is_text, to_json
from .errors import SynthError

__all__ = ["Spec", "generate", "generate_text", "open_synth", "validate"]

# Older private names, kept for code that imported them from here.
_as_text = as_text
_WHITE_SPACE = WHITE_SPACE

_ERROR_PREFIX = '{"ok":false,'


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
    text = as_text(spec_text)
    trimmed = text.strip(WHITE_SPACE)
    if trimmed in NO_SPEC_ERRORS:
        raise SynthError(NO_SPEC_ERRORS[trimmed])
    try:
        return Synth(text)
    except ValueError as exc:
        raise SynthError(str(exc)) from None


def _command_with_spec(cmd: str, spec: Spec) -> str:
    if is_text(spec):
        return _checked(open_synth(spec).command(_json.dumps({"cmd": cmd})))
    spec_json = to_json(spec)
    command = '{"cmd":' + _json.dumps(cmd) + ',"spec":' + spec_json + "}"
    return _checked(Synth("").command(command))


def validate(spec: Spec) -> None:
    """Check a spec without running it.

    Parameters
    ----------
    spec
        A dict (or list, the array form) or a JSON text (str or UTF-8 bytes).

    Raises
    ------
    SynthError
        The reason the spec is rejected; a text's errors carry a line and column.

    Examples
    --------
    >>> qs.validate(qs.example_spec("calm_trend")) is None
    True
    """
    if is_text(spec):
        open_synth(spec)  # reading a text validates it
    else:
        _command_with_spec("set_spec", spec)


def generate_text(spec: Spec, *, stream: bool = False) -> str:
    """The exact response text of "generate" (or "generate_stream" when ``stream``)."""
    return _command_with_spec("generate_stream" if stream else "generate", spec)


def generate(spec: Spec, *, stream: bool = False) -> dict[str, Any]:
    """Generate a run and return the parsed response document.

    Parameters
    ----------
    spec
        A dict (or list, the array form) or a JSON text.
    stream
        The event stream document instead of the grouped one.

    Returns
    -------
    dict
        The grouped document {"candles", "book_snapshots", "trades"[, "funding"]}, or
        {"events"} when ``stream`` is true.

    Raises
    ------
    SynthError
        The rendered error, for a rejected spec or a failed run.

    Examples
    --------
    >>> doc = qs.generate(qs.example_spec("deep_book"))
    >>> len(doc["candles"]), len(doc["book_snapshots"][0]["bids"])
    (600, 50)
    """
    document: dict[str, Any] = _json.loads(generate_text(spec, stream=stream))
    return document
