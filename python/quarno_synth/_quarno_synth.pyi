"""The native module (`quarno_synth._quarno_synth`)."""

from typing import final

__version__: str
# The names a star import brings, as at run time (a dunder included).
__all__ = ["__version__", "Synth"]

@final
class Synth:
    """A synth driven by JSON commands.

    `unsendable`: the handle holds a stateful generator, so it is bound to the
    thread that created it.
    """

    def __new__(cls, spec_json: str) -> "Synth": ...
    def command(self, cmd_json: str) -> str:
        """Apply a command JSON and return the resulting response JSON."""
        ...
    @staticmethod
    def version() -> str:
        """The library version."""
        ...
