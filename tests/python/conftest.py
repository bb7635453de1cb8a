"""Shared test helpers."""

import importlib.util

import pytest


def needs(*modules):
    """Skip (never fail) a test or a parameter when an optional extra is not installed."""
    missing = [m for m in modules if importlib.util.find_spec(m) is None]
    return pytest.mark.skipif(bool(missing), reason=f"needs {', '.join(missing)}")
