"""Imports of optional dependencies, with the extra that provides each."""

from __future__ import annotations

import importlib
from types import ModuleType


def require(module: str, extra: str, purpose: str) -> ModuleType:
    """Import ``module`` or raise ImportError naming the extra to install."""
    try:
        return importlib.import_module(module)
    except ImportError:
        raise ImportError(
            f'{purpose} needs {module.split(".")[0]}: pip install "quarno_synth[{extra}]"'
        ) from None
