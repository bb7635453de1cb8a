"""The stress-correlation figure of the README: docs/universe_stress.png.

Not a test. A universe made by ``make_universe(50, "market,sector:5", seed=1)`` (2,520 daily
bars, a crash over bars 1512-1637 in which the market loading rises); the mean pairwise
correlation of the assets' returns over a rolling 63-bar window, with the crash shaded.

    python bench/universe_figure.py [OUT.png]
"""

from __future__ import annotations

import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np
import quarno_synth as qs

WINDOW = 63


def main() -> None:
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path("docs/universe_stress.png")
    doc = qs.make_universe(50, "market,sector:5", seed=1)
    universe = qs.load_universe(doc)
    returns = qs.cross_section(universe, "returns", frame="numpy")
    regimes = universe.specs[0]["regimes"]
    crash_start = regimes[0]["len"]
    crash_end = crash_start + regimes[1]["len"]
    crash = np.zeros(len(returns), dtype=bool)
    crash[crash_start:crash_end] = True
    facts = qs.correlation_facts(returns, stress=crash)
    n = returns.shape[1]
    rolling = np.full(len(returns), np.nan)
    for end in range(WINDOW, len(returns) + 1):
        c = np.corrcoef(returns[end - WINDOW : end], rowvar=False)
        rolling[end - 1] = (c.sum() - n) / (n * (n - 1))
    fig, ax = plt.subplots(figsize=(8, 3.2), dpi=110)
    ax.axvspan(crash_start, crash_end, color="tab:red", alpha=0.15, label="crash regime")
    ax.plot(rolling, color="tab:blue", lw=1.2, label=f"mean pairwise correlation ({WINDOW} bars)")
    ax.set_xlabel("bar (daily)")
    ax.set_ylabel("correlation")
    ax.set_title(
        f"50 assets: correlation {facts['calm_correlation']:.2f} calm, "
        f"{facts['stress_correlation']:.2f} in the crash"
    )
    ax.legend(loc="upper left", fontsize=8)
    fig.tight_layout()
    fig.savefig(out)
    print(
        f"wrote {out}: calm {facts['calm_correlation']:.3f}, crash "
        f"{facts['stress_correlation']:.3f}, top eigenvalue share "
        f"{facts['top_eigenvalue_share']:.3f}"
    )


if __name__ == "__main__":
    main()
