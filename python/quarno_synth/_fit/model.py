"""Fitting a spec to a real price series: an alternative history, or new futures, of a market.

``fit(data)`` reads closes (and high/low when present), fits a Gaussian Markov-switching model
to the log returns (Baum-Welch; the number of states 1..4 by BIC when ``regimes="auto"``),
decodes the most likely state path (Viterbi), maps each state to a regime kind with drift and
vol estimated for that kind's formula and, with ``dynamics``, finds jumps first (a threshold)
and fits one GJR-GARCH with Student-t shocks through all the states. The spec replays the
states in their historical order and lengths (``schedule="replay"``), or carries the states
and their transition matrix as a ``chain`` from which every seed draws its own schedule
(``schedule="chain"``).

Why a Markov-switching model: it gives the regimes and the transition matrix a chain needs in
one likelihood, the states are directly readable as calm and turbulent markets, and its fit is
deterministic from a fixed start (states seeded by quantiles of the rolling variance).

Fitted numbers are rounded to SIGNIFICANT significant digits, so the same data and arguments
give the same spec text.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from .. import _json
from .._optional import require
from .data import DataError, Series, read_series
from .garch import detect_jumps, fit_dynamics
from .hmm import select, viterbi
from .kinds import classify
from .micro import BOOK_DEPTH, DEFAULT_SPREAD_BPS, TRADE_RATE, corwin_schultz_bps

__all__ = ["DataError", "FitReport", "fit", "spec_text"]

SIGNIFICANT = 4
DEFAULT_START_TS = 1700000000
REPORT_SEEDS = 20
SECONDS_PER_YEAR = 365.25 * 86400.0
_SCHEDULES = ("replay", "chain")


def _sig(x: float, digits: int = SIGNIFICANT) -> float:
    return float(f"{x:.{digits}g}") if x != 0.0 else 0.0


def annual_vol(closes: Any, bars_per_year: float) -> float:
    r = np.diff(np.log(np.asarray(closes, dtype=np.float64)))
    return float(r.std() * math.sqrt(bars_per_year))


def max_drawdown(closes: Any) -> float:
    """The largest fall from a running peak, as a share of the peak."""
    c = np.asarray(closes, dtype=np.float64)
    return float((1.0 - c / np.maximum.accumulate(c)).max())


@dataclass
class FitReport:
    """What ``fit`` found: one row per regime state, the timeline and the scores."""

    spec: dict[str, Any]
    states: list[dict[str, Any]]  # kind, parameters and statistics per state
    transitions: Any  # (K, K) state transition shares of the decoded path
    bics: dict[int, float]  # BIC per number of states tried
    timeline: Any  # state of every bar (returns), numpy int array
    closes: Any  # the real closes
    times: Any  # their timestamps in seconds, or None
    bars_per_year: float
    spread_bps: float
    spread_source: str  # "corwin_schultz" or "default"
    column: str
    _scores: dict[int, Any] = field(default_factory=dict, repr=False)

    @property
    def kinds(self) -> list[str]:
        return [self.states[s]["kind"] for s in self.timeline]

    def timeline_frame(self) -> Any:
        """One row per bar: ts (when known), close at the bar's end, state and kind."""
        pd = require("pandas", "pandas", "FitReport.timeline_frame")
        columns: dict[str, Any] = {}
        if self.times is not None:
            columns["ts"] = pd.to_datetime(self.times[1:], unit="s", utc=True)
        columns["close"] = self.closes[1:]
        columns["state"] = self.timeline
        columns["kind"] = pd.Categorical(self.kinds, categories=["trend", "range", "crash", "vol"])
        return pd.DataFrame(columns)

    def synthetic_closes(self, seeds: int = REPORT_SEEDS) -> list[Any]:
        from ..facts import spec_closes

        base = int(self.spec["seed"])
        return list(spec_closes(self.spec, range(base, base + seeds)))

    def scorecard(self, seeds: int = REPORT_SEEDS) -> Any:
        """The real series' stylized facts beside ``seeds`` runs of the fitted spec (mean, std,
        5 % and 95 %), with the annualised vol and the maximum drawdown added."""
        if seeds in self._scores:
            return self._scores[seeds]
        from .. import facts

        runs = self.synthetic_closes(seeds)
        table = facts.compare(self.closes, runs)
        extra = {
            "annual_vol": (
                annual_vol(self.closes, self.bars_per_year),
                [annual_vol(c, self.bars_per_year) for c in runs],
            ),
            "max_drawdown": (max_drawdown(self.closes), [max_drawdown(c) for c in runs]),
        }
        pd = facts._pandas()
        for name, (real, values) in extra.items():
            v = np.asarray(values)
            row = {
                "real": real,
                "mean": float(v.mean()),
                "std": float(v.std(ddof=1)) if len(v) > 1 else 0.0,
                "p05": float(np.quantile(v, 0.05)),
                "p95": float(np.quantile(v, 0.95)),
            }
            if pd is not None:
                table.loc[name] = [row[c] for c in table.columns]
            else:
                table[name] = row
        self._scores[seeds] = table
        return table

    def summary(self) -> str:
        """The fitted states as a small text table."""
        lines = [
            f"{len(self.states)} regime states (BIC: "
            + ", ".join(f"{k}: {v:.1f}" for k, v in self.bics.items())
            + f"), spread {self.spread_bps:.4g} bps ({self.spread_source})",
            f"{'state':>5} {'kind':>6} {'share':>6} {'drift':>11} {'vol':>9}  dynamics",
        ]
        for i, s in enumerate(self.states):
            dyn = []
            if "garch" in s:
                g = s["garch"]
                dyn.append(f"garch {g['alpha']:.3g}/{g['gamma']:.3g}/{g['beta']:.3g}")
            if "tails" in s:
                dyn.append(f"df {s['tails']['df']:.3g}")
            if "jumps" in s:
                j = s["jumps"]
                dyn.append(f"jumps {j['rate']:.3g}x({j['mean']:.3g}+-{j['vol']:.3g})")
            lines.append(
                f"{i:>5} {s['kind']:>6} {s['share']:>6.1%} {s['drift']:>11.4g} {s['vol']:>9.4g}  "
                + ", ".join(dyn)
            )
        return "\n".join(lines)


def _check_args(regimes: Any, schedule: Any, seed: Any, bars: Any) -> None:
    if regimes != "auto" and not (
        isinstance(regimes, int) and not isinstance(regimes, bool) and 1 <= regimes <= 4
    ):
        raise ValueError(
            f'regimes must be "auto" or a number of states from 1 to 4, not {regimes!r}'
        )
    if schedule not in _SCHEDULES:
        raise ValueError(f'schedule must be "replay" or "chain", not {schedule!r}')
    if not isinstance(seed, int) or isinstance(seed, bool) or not 0 <= seed < 2**64:
        raise ValueError(f"seed must be an integer from 0 to 2**64 - 1, not {seed!r}")
    if bars is not None:
        if schedule != "chain":
            raise ValueError('bars is for schedule="chain"; a replay has the data\'s length')
        if not isinstance(bars, int) or isinstance(bars, bool) or bars < 1:
            raise ValueError(f"bars must be a positive integer, not {bars!r}")


def _state_members(kind_fit: Any, dyn: Any, state: int) -> dict[str, Any]:
    """The regime members (without len) of one state."""
    kind, drift, vol = kind_fit.kind, kind_fit.drift, kind_fit.vol
    if dyn is None:
        return {"kind": kind, "drift": _sig(drift), "vol": _sig(vol)}
    extra: dict[str, Any] = {}
    if dyn.garch is not None:
        alpha, gamma, beta = (_sig(x) if x >= 1e-4 else 0.0 for x in dyn.garch)
        if alpha + gamma > 0.0:
            extra["garch"] = {"alpha": alpha, "gamma": gamma, "beta": beta}
    if dyn.df is not None:
        extra["tails"] = {"df": _sig(dyn.df, 3)}
    jumps = dyn.jumps[state]
    if jumps is not None:
        rate, mean, jvol = jumps
        extra["jumps"] = {"rate": _sig(rate), "mean": _sig(mean), "vol": _sig(jvol)}
    return {"kind": kind, "drift": _sig(drift), "vol": _sig(vol), **extra}


def _with_len(members: dict[str, Any], length: int) -> dict[str, Any]:
    """The regime object of a state: kind, len, then the other members."""
    return {
        "kind": members["kind"],
        "len": length,
        **{k: v for k, v in members.items() if k != "kind"},
    }


def _runs(path: Any) -> list[tuple[int, int]]:
    """(state, length) of each stretch of the path."""
    edges = np.flatnonzero(np.diff(path)) + 1
    starts = np.concatenate(([0], edges))
    stops = np.concatenate((edges, [len(path)]))
    return [(int(path[a]), int(b - a)) for a, b in zip(starts, stops)]


def _path_transitions(path: Any, k: int, fallback: Any) -> Any:
    counts = np.zeros((k, k))
    np.add.at(counts, (path[:-1], path[1:]), 1.0)
    rows = counts.sum(axis=1)
    shares = np.where(rows[:, None] > 0, counts / np.maximum(rows, 1.0)[:, None], fallback)
    return shares


def _rounded_rows(matrix: Any) -> list[list[float]]:
    """Off-diagonal shares to 6 significant digits; the diagonal takes the rest of 1."""
    rows = []
    for i, row in enumerate(matrix):
        out = [_sig(float(x), 6) if j != i else 0.0 for j, x in enumerate(row)]
        rest = 0.0
        for j, x in enumerate(out):
            if j != i:
                rest += x
        out[i] = 1.0 - rest
        rows.append(out)
    return rows


def _fit_states(
    r_real: Any, r: Any, is_jump: Any, path: Any, k: int, dynamics: bool
) -> tuple[list[dict[str, Any]], list[dict[str, Any]]]:
    """The regime members of each state, and each state's row of the report.

    ``r_real`` are the real returns, ``r`` the same with the jump bars replaced."""
    fits = [classify(r, path, state, float(r.std())) for state in range(k)]
    dyn = None
    if dynamics:
        residuals = np.empty(len(r))
        for state, kind_fit in enumerate(fits):
            residuals[path == state] = kind_fit.residuals
        state_means = np.array([r[path == state].mean() for state in range(k)])
        jump_sizes = np.where(is_jump, r_real - state_means[path], np.nan)
        dyn = fit_dynamics(residuals, path, k, jump_sizes)
    members: list[dict[str, Any]] = []
    states: list[dict[str, Any]] = []
    for state, kind_fit in enumerate(fits):
        regime = _state_members(kind_fit, dyn, state)
        members.append(regime)
        x = r_real[path == state]
        states.append(
            {
                **regime,
                "bars": len(x),
                "share": len(x) / len(r),
                "mean": float(x.mean()),
                "std": float(x.std()),
                "drift_t": kind_fit.drift_t,
                "reversion_t": kind_fit.reversion_t,
            }
        )
    return members, states


def _bars_per_year(series: Series, bars: int) -> float:
    """Bars per year over the data's time span (from bar_secs without timestamps)."""
    times = series.times
    span = float(times[-1] - times[0]) if times is not None else 0.0
    return bars / (span / SECONDS_PER_YEAR) if span else SECONDS_PER_YEAR / series.bar_secs


def fit(
    data: Any,
    *,
    regimes: int | str = "auto",
    dynamics: bool = True,
    schedule: str = "replay",
    seed: int = 0,
    bars: int | None = None,
    column: str = "close",
) -> tuple[dict[str, Any], FitReport]:
    """Fit a spec to a real price series: its regimes, their dynamics and the spread.

    Parameters
    ----------
    data
        Closes or OHLCV: a pandas Series or DataFrame (a DatetimeIndex or a date/time column
        gives the bar times), a polars frame, a numpy array, or a path to a CSV or Parquet
        file. Columns are matched case-insensitively. One bar per row; ``bar_secs`` is the
        median spacing of the timestamps (86400 without timestamps).
    regimes
        "auto" (1 to 4 states, the lowest BIC) or a number of states from 1 to 4.
    dynamics
        Give the regimes ``garch``, ``tails`` and ``jumps`` members (False: classic regimes).
    schedule
        "replay": the regimes in their historical order and lengths; "chain": a regime chain
        from which every seed draws its own schedule.
    seed
        The spec's seed.
    bars
        The length of a chain run (the data's by default); not for a replay.
    column
        The price column, e.g. "adj close".

    Returns
    -------
    tuple of (dict, FitReport)
        The spec, ready for every data entry point, and what the fit found.

    Raises
    ------
    DataError
        A ValueError whose one-line message says why the data cannot be fitted.
    ValueError
        An argument out of range.

    Examples
    --------
    >>> import numpy as np
    >>> closes = 100.0 * np.exp(np.cumsum(np.random.default_rng(1).normal(0.0, 0.01, 500)))
    >>> spec, report = qs.fit(closes, dynamics=False)
    >>> spec["bars"], spec["bar_secs"]
    (499, 86400)
    """
    _check_args(regimes, schedule, seed, bars)
    series: Series = read_series(data, column)
    r_real = np.diff(np.log(series.close))
    is_jump = detect_jumps(r_real) if dynamics else np.zeros(len(r_real), dtype=bool)
    # the regimes describe the diffusive part: jump bars count as an ordinary bar
    r = np.where(is_jump, r_real[~is_jump].mean(), r_real) if is_jump.any() else r_real
    model, bics = select(r, regimes)
    path = viterbi(r, model)
    used = np.unique(path)
    path = np.searchsorted(used, path)  # states the path never visits are dropped
    k = len(used)
    members, states = _fit_states(r_real, r, is_jump, path, k, dynamics)
    hmm_rows = model.transitions[np.ix_(used, used)]
    hmm_rows = hmm_rows / hmm_rows.sum(axis=1, keepdims=True)
    transitions = _path_transitions(path, k, hmm_rows)

    if series.high is not None and series.low is not None:
        spread_bps, source = corwin_schultz_bps(series.high, series.low), "corwin_schultz"
    else:
        spread_bps, source = DEFAULT_SPREAD_BPS, "default"
    spec: dict[str, Any] = {
        "seed": seed,
        "bars": len(r) if bars is None else bars,
        "start_price": _sig(float(series.close[0]), 8),
        "start_ts": series.start_ts if series.start_ts is not None else DEFAULT_START_TS,
        "bar_secs": series.bar_secs,
    }
    if schedule == "replay":
        spec["regimes"] = [_with_len(members[s], n) for s, n in _runs(path)]
    else:
        spec["regimes"] = []
        spec["chain"] = {
            # one bar per visit: the chain steps every bar, as the transitions were counted
            "states": [_with_len(m, 1) for m in members],
            "transitions": _rounded_rows(transitions),
            "start": int(path[0]),
        }
    spec["microstructure"] = {
        "book_depth": BOOK_DEPTH,
        "spread_bps": _sig(spread_bps),
        "trade_rate": TRADE_RATE,
    }
    report = FitReport(
        spec=spec,
        states=states,
        transitions=transitions,
        bics=bics,
        timeline=path,
        closes=series.close,
        times=series.times,
        bars_per_year=_bars_per_year(series, len(r)),
        spread_bps=spread_bps,
        spread_source=source,
        column=series.label,
    )
    return spec, report


def _list_text(items: list[Any], indent: str) -> str:
    if not items:
        return "[]"
    return "[\n" + ",\n".join(indent + _json.dumps(item) for item in items) + "]"


def spec_text(spec: dict[str, Any]) -> str:
    """The spec as JSON text, one member per line and one regime or chain state per line."""
    members = []
    for key, value in spec.items():
        if key == "regimes":
            text = _list_text(value, "  ")
        elif key == "chain":
            inner = [
                f'"states":{_list_text(value["states"], "   ")}',
                f'"transitions":{_list_text(value["transitions"], "   ")}',
                *(
                    f"{_json.dumps(k)}:{_json.dumps(v)}"
                    for k, v in value.items()
                    if k not in ("states", "transitions")
                ),
            ]
            text = "{" + ",\n  ".join(inner) + "}"
        else:
            text = _json.dumps(value)
        members.append(f"{_json.dumps(key)}:{text}")
    return "{" + ",\n ".join(members) + "}\n"
