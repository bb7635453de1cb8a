"""The two ways a sweep fails, and the callback type its progress goes through."""

from __future__ import annotations

from collections.abc import Callable

# Called with (runs done, runs in the sweep) as runs finish.
OnRuns = Callable[[int, int], None]


class SweepError(ValueError):
    """Arguments that cannot make a sweep; raised before anything is written."""


class SweepFailed(RuntimeError):
    """The sweep stopped before every run was done (a worker died, a write failed).

    The runs already finished stay; starting the sweep again with the same arguments
    completes it.
    """
