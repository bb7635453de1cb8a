"""The example specs shipped inside the package."""

from __future__ import annotations

from importlib import resources
from typing import Any, NamedTuple

from . import _json


class Example(NamedTuple):
    name: str
    description: str


EXAMPLES = (
    Example("calm_trend", "hourly bars, a slow steady uptrend with one quiet pause; thin trading"),
    Example("range_bound", "15-minute bars oscillating around a level, pulled back to it"),
    Example("crash_recovery", "an uptrend, a sharp crash, a volatile bottom and a slow recovery"),
    Example("volatile_perp", "a perpetual swap in turbulent regimes with funding every 8 hours"),
    Example("deep_book", "1-minute bars with a 50-level book and heavy trading"),
)

_NAMES = {example.name: example for example in EXAMPLES}


class UnknownExample(KeyError):
    """No built-in example has this name."""

    def __str__(self) -> str:
        return f"unknown example '{self.args[0]}' (available: {', '.join(_NAMES)})"


def example_text(name: str) -> str:
    """The JSON text of the built-in example ``name``."""
    if name not in _NAMES:
        raise UnknownExample(name)
    return resources.files(__package__).joinpath("examples", f"{name}.json").read_text("utf-8")


def example_spec(name: str) -> dict[str, Any]:
    """The built-in example ``name`` as a dict, ready for ``generate``."""
    spec: dict[str, Any] = _json.loads(example_text(name))
    return spec
