"""Progress lines on a terminal: one line on stderr, rewritten in place."""

from __future__ import annotations

import sys
import time
from typing import TextIO

# Redraw at most this often while bars come in.
_REDRAW_SECS = 0.1


def _clock(seconds: float) -> str:
    """h:mm:ss or m:ss."""
    whole = int(seconds + 0.5)
    hours, rest = divmod(whole, 3600)
    minutes, secs = divmod(rest, 60)
    return f"{hours}:{minutes:02d}:{secs:02d}" if hours else f"{minutes}:{secs:02d}"


class Progress:
    """Shows what a long run is doing; silent unless enabled (stderr is a terminal)."""

    def __init__(self, enabled: bool, stream: TextIO | None = None) -> None:
        self.enabled = enabled
        self.stream = stream if stream is not None else sys.stderr
        self._started = time.monotonic()
        self._width = 0
        self._label = ""
        self._phase_started = self._started
        self._shown_at = 0.0

    @classmethod
    def for_terminal(cls, stream: TextIO | None = None) -> Progress:
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
        self._phase_started = time.monotonic()
        self._show(label + " ...")

    def bars(self, done: int, total: int) -> None:
        """Bars made so far in the current phase: share, rate and the time still to go."""
        now = time.monotonic()
        if not self.enabled or (done < total and now - self._shown_at < _REDRAW_SECS):
            return
        self._shown_at = now
        elapsed = now - self._phase_started
        percent = 100 if total == 0 else done * 100 // total
        text = f"{self._label} {percent:3d}% ({done:,}/{total:,} bars"
        if done > 0 and elapsed > 0:
            rate = done / elapsed
            text += f", {rate:,.0f} bars/s, {_clock((total - done) / rate)} left"
        self._show(text + ")")

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
        now = time.monotonic()
        if not self.enabled or (done < total and now - self._shown_at < _REDRAW_SECS):
            return
        self._shown_at = now
        percent = 100 if total == 0 else done * 100 // total
        self._show(f"{self._label} {percent:3d}% ({done:,}/{total:,} runs)")
