"""The exception raised for failed commands and rejected specs."""

from __future__ import annotations

# Rendered errors start with one of these; the part before ": " names the kind.
_KINDS = ("parse", "bad spec", "numeric")


class SynthError(ValueError):
    """A spec or command the generator rejected; ``str(err)`` is the rendered error text.

    ``kind`` is "parse", "bad spec" or "numeric" (None for a text without a known prefix);
    ``detail`` is the text after that prefix.
    """

    def __init__(self, message: str) -> None:
        super().__init__(message)
        self.message = message
        self.kind: str | None = None
        self.detail = message
        for kind in _KINDS:
            prefix = kind + ": "
            if message.startswith(prefix):
                self.kind = kind
                self.detail = message[len(prefix) :]
                break
