"""The warning where the classic model caps trades: its Poisson count saturates near 745
trades per bar (exp(-trade_rate) underflows), so a classic spec asking for more than 700
silently gets fewer. The tick model has no such limit.
"""

from __future__ import annotations

import warnings

from ._columns import Run

CLASSIC_RATE_LIMIT = 700.0


def classic_rate_message(run: Run) -> str | None:
    """The warning for ``run``, or None when its trade_rate is fine."""
    if run.ticks or not run.trade_rate > CLASSIC_RATE_LIMIT:
        return None
    return (
        f"trade_rate {run.trade_rate:g} is above {CLASSIC_RATE_LIMIT:g}: the classic trade count "
        'saturates near 745 per bar; add "ticks" to "microstructure" for the tick model, '
        "which takes any rate"
    )


def warn_classic_rate(run: Run, stacklevel: int = 3) -> None:
    """A UserWarning when ``run`` is classic with a trade_rate above 700."""
    message = classic_rate_message(run)
    if message is not None:
        warnings.warn(message, UserWarning, stacklevel=stacklevel)
