"""Progress lines on a terminal: one line on stderr, rewritten in place."""

from __future__ import annotations

import sys
import time
from typing import TextIO


class Progress:
    """Shows what a long run is doing; silent unless enabled (stderr is a terminal)."""

    def __init__(self, enabled: bool, stream: TextIO | None = None) -> None:
        self.enabled = enabled
        self.stream = stream if stream is not None else sys.stderr
        self._started = time.monotonic()
        self._width = 0
        self._label = ""

    @classmethod
    def for_terminal(cls, stream: TextIO | None = None) -> "Progress":
        stream = stream if stream is not None else sys.stderr
        try:
            enabled = stream.isatty()
        except (AttributeError, ValueError):
            enabled = False
        return cls(enabled, stream)

    def _show(self, text: str) -> None:
        if not self.enabled:
            return
        text = f"{text} [{time.monotonic() - self._started:.1f}s]"
        padding = " " * max(0, self._width - len(text))
        self.stream.write("\r" + text + padding)
        self.stream.flush()
        self._width = len(text)

    def step(self, label: str) -> None:
        """A new phase of the run begins."""
        self._label = label
        self._show(label + " ...")

    def rows(self, done: int, total: int) -> None:
        """Rows written so far in the current phase."""
        percent = 100 if total == 0 else done * 100 // total
        self._show(f"{self._label} {percent:3d}%")

    def finish(self, summary: str | None = None) -> None:
        """Clear the line, leaving ``summary`` on it when given."""
        if not self.enabled:
            return
        if summary is None:
            self.stream.write("\r" + " " * self._width + "\r")
        else:
            self._show(summary)
            self.stream.write("\n")
        self.stream.flush()
        self._width = 0

    def count(self, done: int, total: int) -> None:
        """Items (e.g. runs) finished so far in the current phase."""
        percent = 100 if total == 0 else done * 100 // total
        self._show(f"{self._label} {done:,}/{total:,} {percent:3d}%")
