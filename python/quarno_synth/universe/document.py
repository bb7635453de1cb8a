"""The universe document: shared factors, and assets that load on them.

A universe is read once, checked (one error naming the asset at fault) and expanded: every
asset becomes its own extended spec whose ``factors`` member carries the factor seed, the
factor count, the common jumps and the asset's loadings. An asset's data is a pure function
of that spec, so it never depends on the other assets or on their order.
"""

from __future__ import annotations

import copy
import math
import re
from collections.abc import Iterator, Mapping, Sequence
from dataclasses import dataclass
from typing import Any, TypeGuard, Union

from .. import _json
from ..errors import SynthError

UniverseLike = Union[Mapping[str, Any], str, bytes, bytearray, "Universe"]

KINDS = ("trend", "range", "crash", "vol")
_SEED_LIMIT = 2**64
_CLOCK = ("bars", "start_ts", "bar_secs")
_CLOCK_DEFAULTS = {"start_ts": 1700000000, "bar_secs": 3600}
_MEMBERS = ("factor_seed", "factors", "assets", "correlation", "vols", "jumps")
_ASSET_MEMBERS = ("symbol", "spec", "loadings")
# Symbols name partition directories ("symbol=AAA"): no separators, no hidden names.
_SYMBOL = re.compile(r"[A-Za-z0-9_\-][A-Za-z0-9_.\-]{0,63}\Z")


def _fail(message: str) -> SynthError:
    return SynthError(f"universe: {message}")


def is_universe(value: Any) -> TypeGuard[UniverseLike]:
    """Whether ``value`` is a universe (a document with "assets", or a Universe)."""
    if isinstance(value, Universe):
        return True
    if isinstance(value, Mapping):
        return "assets" in value
    if isinstance(value, (str, bytes, bytearray)):
        text = value if isinstance(value, str) else bytes(value).decode("utf-8", "replace")
        if '"assets"' not in text:
            return False
        try:
            return is_universe(_json.loads(text))
        except ValueError:
            return False
    return False


def _seed(value: Any, where: str) -> int:
    if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value < _SEED_LIMIT:
        raise _fail(f"{where} must be an integer from 0 to 2^64 - 1, not {value!r}")
    return value


def _vector(value: Any, count: int, where: str) -> list[float]:
    if not isinstance(value, (list, tuple)) or len(value) != count:
        raise _fail(f"{where} must be a list of {count} numbers (one per factor)")
    out = []
    for k, x in enumerate(value):
        if isinstance(x, bool) or not isinstance(x, (int, float)) or not math.isfinite(x):
            raise _fail(f"{where}[{k}] must be a finite number, not {x!r}")
        out.append(float(x))
    squares = 0.0
    for x in out:  # the order the generator sums them in
        squares = squares + (x * x)
    if not squares <= 1.0:
        raise _fail(f"{where}: sum of squared loadings is {squares:.6g}, must be <= 1")
    return out


def _loadings(value: Any, count: int, where: str) -> tuple[list[float], dict[str, list[float]]]:
    """(default loadings, loadings per regime kind) of an asset."""
    if isinstance(value, Mapping):
        unknown = [key for key in value if key != "default" and key not in KINDS]
        if unknown:
            raise _fail(
                f"{where}: unknown key {unknown[0]!r}, expected default, {', '.join(KINDS)}"
            )
        if "default" not in value:
            raise _fail(f'{where}: missing "default" (the loadings outside the named kinds)')
        default = _vector(value["default"], count, f"{where}.default")
        kinds = {k: _vector(value[k], count, f"{where}.{k}") for k in KINDS if k in value}
        return default, kinds
    return _vector(value, count, where), {}


def _jumps(value: Any) -> dict[str, float] | None:
    if value is None:
        return None
    if not isinstance(value, Mapping) or set(value) != {"rate", "mean", "vol"}:
        raise _fail('jumps must be {"rate": p, "mean": m, "vol": s} (shocks of the first factor)')
    out = {}
    for key in ("rate", "mean", "vol"):
        x = value[key]
        if isinstance(x, bool) or not isinstance(x, (int, float)) or not math.isfinite(x):
            raise _fail(f"jumps.{key} must be a finite number, not {x!r}")
        out[key] = float(x)
    if not 0.0 <= out["rate"] <= 1.0:
        raise _fail(f"jumps.rate must be within [0, 1], not {out['rate']!r}")
    if out["vol"] < 0.0:
        raise _fail(f"jumps.vol must be >= 0, not {out['vol']!r}")
    return out


def _names(value: Any) -> list[str]:
    if not isinstance(value, (list, tuple)) or not value:
        raise _fail("factors must be a non-empty list of factor names")
    for name in value:
        if not isinstance(name, str) or not name:
            raise _fail(f"factor names must be non-empty strings, not {name!r}")
    if len(set(value)) != len(value):
        raise _fail("factor names repeat: give each factor once")
    return list(value)


@dataclass(frozen=True)
class Universe:
    """A checked universe: its factors and, per asset, the symbol and the expanded spec.

    ``specs[i]`` is asset i's own spec with the member ``factors`` filled in: running it
    anywhere (``generate_arrow``, a writer, another process) gives that asset's tables.
    """

    factor_seed: int
    factors: tuple[str, ...]
    symbols: tuple[str, ...]
    specs: tuple[dict[str, Any], ...]
    jumps: dict[str, Any] | None = None

    def __len__(self) -> int:
        return len(self.symbols)

    def __iter__(self) -> Iterator[tuple[str, dict[str, Any]]]:
        return iter(zip(self.symbols, self.specs))

    @property
    def bars(self) -> int:
        return int(self.specs[0]["bars"])

    @property
    def start_ts(self) -> int:
        return int(self.specs[0].get("start_ts", _CLOCK_DEFAULTS["start_ts"]))

    @property
    def bar_secs(self) -> int:
        return int(self.specs[0].get("bar_secs", _CLOCK_DEFAULTS["bar_secs"]))

    def spec(self, symbol: str) -> dict[str, Any]:
        """The expanded spec of asset ``symbol`` (a copy)."""
        try:
            return copy.deepcopy(self.specs[self.symbols.index(symbol)])
        except ValueError:
            raise KeyError(f"no asset {symbol!r} in the universe") from None

    def select(self, symbols: Sequence[str]) -> Universe:
        """The universe of the given assets only, in the given order."""
        specs = [self.spec(symbol) for symbol in symbols]
        return Universe(self.factor_seed, self.factors, tuple(symbols), tuple(specs), self.jumps)

    def shifted(self, offset: int) -> Universe:
        """Every asset's seed and the factor seed moved by ``offset`` (mod 2^64): the
        universe of sweep seed ``offset``; offset 0 is the universe as written."""
        seed = (self.factor_seed + offset) % _SEED_LIMIT
        specs = []
        for spec in self.specs:
            moved = dict(spec, seed=(spec["seed"] + offset) % _SEED_LIMIT)
            moved["factors"] = dict(spec["factors"], seed=seed)
            specs.append(moved)
        return Universe(seed, self.factors, self.symbols, tuple(specs), self.jumps)

    def document(self) -> dict[str, Any]:
        """The expanded universe document: explicit loadings, nothing left to compute."""
        assets = []
        for symbol, spec in self:
            own = {k: v for k, v in spec.items() if k != "factors"}
            member = spec["factors"]
            loadings: Any = member["loadings"]
            if "regimes" in member:
                loadings = {"default": loadings, **member["regimes"]}
            assets.append({"symbol": symbol, "spec": own, "loadings": loadings})
        doc: dict[str, Any] = {"factor_seed": self.factor_seed, "factors": list(self.factors)}
        if self.jumps is not None:
            doc["jumps"] = dict(self.jumps)
        doc["assets"] = assets
        return doc


def _read_document(value: UniverseLike) -> Mapping[str, Any]:
    if isinstance(value, (str, bytes, bytearray)):
        try:
            value = _json.loads(bytes(value) if isinstance(value, bytearray) else value)
        except ValueError as exc:
            raise _fail(f"not a JSON document: {exc}") from None
    if not isinstance(value, Mapping):
        raise _fail(f"expected a universe document (an object), got {type(value).__name__}")
    unknown = [key for key in value if key not in _MEMBERS]
    if unknown:
        raise _fail(f"unknown member {unknown[0]!r}, expected one of {', '.join(_MEMBERS)}")
    for key in ("factor_seed", "assets"):
        if key not in value:
            raise _fail(f'missing "{key}"')
    return value


def _asset(entry: Any, index: int, symbols: set[str]) -> tuple[str, dict[str, Any]]:
    if not isinstance(entry, Mapping):
        raise _fail(f"asset {index} must be an object with symbol, spec and loadings")
    symbol = entry.get("symbol")
    if not isinstance(symbol, str) or not _SYMBOL.match(symbol):
        raise _fail(
            f"asset {index}: symbol must be 1 to 64 letters, digits, '_', '-' or '.' "
            f"(not starting with '.'), not {symbol!r}"
        )
    if symbol in symbols:
        raise _fail(f'asset "{symbol}": the symbol repeats; give each asset once')
    unknown = [key for key in entry if key not in _ASSET_MEMBERS]
    if unknown:
        raise _fail(
            f'asset "{symbol}": unknown member {unknown[0]!r}, expected symbol, spec, loadings'
        )
    spec = entry.get("spec")
    if not isinstance(spec, Mapping):
        raise _fail(f'asset "{symbol}": spec must be an object (a spec in its object form)')
    if "factors" in spec:
        raise _fail(f'asset "{symbol}": spec has "factors"; the universe sets them')
    micro = spec.get("microstructure")
    if isinstance(micro, Mapping) and micro.get("ticks") is not None:
        # The universe's tables are cut from blocks of several assets' bars, which carry no
        # per-trade times: refused rather than written without them.
        raise _fail(
            f'asset "{symbol}": the tick model (microstructure.ticks) is not available '
            "in a universe; generate the asset on its own"
        )
    return symbol, copy.deepcopy(dict(spec))


def _check_clock(symbols: list[str], specs: list[dict[str, Any]]) -> None:
    first = specs[0]
    for symbol, spec in zip(symbols, specs):
        for key in _CLOCK:
            mine = spec.get(key, _CLOCK_DEFAULTS.get(key))
            theirs = first.get(key, _CLOCK_DEFAULTS.get(key))
            if mine != theirs:
                raise _fail(
                    f'asset "{symbol}": {key} is {mine!r} but {theirs!r} in "{symbols[0]}"; '
                    "every asset shares the bar clock (bars, start_ts, bar_secs)"
                )


def _scale_vols(spec: dict[str, Any], vol: Any, symbol: str) -> None:
    """Asset volatility ``vol``: the first regime's vol becomes ``vol`` and every other
    regime keeps its ratio to the first."""
    if isinstance(vol, bool) or not isinstance(vol, (int, float)) or not vol >= 0.0:
        raise _fail(f'vols: the vol of "{symbol}" must be a number >= 0, not {vol!r}')
    regimes = spec.get("regimes")
    if not isinstance(regimes, list) or not regimes or not isinstance(regimes[0], Mapping):
        raise _fail(f'asset "{symbol}": vols need regimes in object form')
    base = regimes[0].get("vol")
    if isinstance(base, bool) or not isinstance(base, (int, float)) or not base > 0.0:
        raise _fail(f'asset "{symbol}": vols need a first regime vol > 0 to scale from')
    spec["regimes"] = [dict(r, vol=float(vol) * (r["vol"] / base)) for r in regimes]


def load_universe(value: UniverseLike) -> Universe:
    """Read and check a universe (a dict, or its JSON text); SynthError names the fault.

    The document: {"factor_seed": u64, "factors": [names], "jumps": {...} (optional),
    "assets": [{"symbol", "spec", "loadings"}]}, each asset's loadings a list (one per
    factor) or {"default": [...], "crash": [...], ...} per regime kind; or, instead of
    factors and loadings, "correlation" (an assets x assets matrix) with optional "vols".
    """
    if isinstance(value, Universe):
        return value
    doc = _read_document(value)
    factor_seed = _seed(doc["factor_seed"], "factor_seed")
    entries = doc["assets"]
    if not isinstance(entries, list) or not entries:
        raise _fail("assets must be a non-empty list")
    symbols: list[str] = []
    specs: list[dict[str, Any]] = []
    for index, entry in enumerate(entries):
        symbol, spec = _asset(entry, index, set(symbols))
        symbols.append(symbol)
        specs.append(spec)
    jumps = _jumps(doc.get("jumps"))
    if "correlation" in doc:
        names, loadings = _from_correlation(doc, entries, symbols, specs)
    else:
        if "vols" in doc:
            raise _fail('"vols" goes with "correlation"; set each asset\'s regime vols instead')
        if "factors" not in doc:
            raise _fail('missing "factors" (the factor names), or give "correlation"')
        names = _names(doc["factors"])
        loadings = []
        for symbol, entry in zip(symbols, entries):
            if "loadings" not in entry:
                raise _fail(f'asset "{symbol}": missing "loadings"')
            loadings.append(_loadings(entry["loadings"], len(names), f'asset "{symbol}": loadings'))
    _check_clock(symbols, specs)
    for spec, (default, kinds) in zip(specs, loadings):
        member: dict[str, Any] = {"seed": factor_seed, "count": len(names), "loadings": default}
        if kinds:
            member["regimes"] = kinds
        if jumps is not None:
            member["jumps"] = dict(jumps)
        spec["factors"] = member
    return Universe(factor_seed, tuple(names), tuple(symbols), tuple(specs), jumps)


def _from_correlation(
    doc: Mapping[str, Any], entries: list[Any], symbols: list[str], specs: list[dict[str, Any]]
) -> tuple[list[str], list[tuple[list[float], dict[str, Any]]]]:
    from .correlation import loadings_from_correlation

    for symbol, entry in zip(symbols, entries):
        if "loadings" in entry:
            raise _fail(f'asset "{symbol}": give loadings or a correlation matrix, not both')
    if "factors" in doc:
        raise _fail('"factors" are named from the correlation matrix; leave them out')
    try:
        matrix = loadings_from_correlation(doc["correlation"])
    except ValueError as exc:
        raise _fail(f"correlation: {exc}") from None
    if len(matrix) != len(symbols):
        raise _fail(
            f"correlation is {len(matrix)} x {len(matrix)} but there are {len(symbols)} assets"
        )
    vols = doc.get("vols")
    if vols is not None:
        if not isinstance(vols, list) or len(vols) != len(symbols):
            raise _fail(f"vols must be a list of {len(symbols)} numbers (one per asset)")
        for symbol, spec, vol in zip(symbols, specs, vols):
            _scale_vols(spec, vol, symbol)
    names = [f"pc{k + 1}" for k in range(len(matrix[0]))]
    return names, [(row, {}) for row in matrix]
