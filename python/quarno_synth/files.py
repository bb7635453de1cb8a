"""Files that appear only once complete, and where each table's file goes."""

from __future__ import annotations

from pathlib import Path

from ._atomic import replacing
from ._schema import TABLES

__all__ = ["replacing", "table_paths", "write_text"]


def write_text(path: Path, text: str) -> None:
    """Write ``text`` to ``path`` as UTF-8, exactly (no newline is added)."""
    with replacing(path, "wb") as f:
        f.write(text.encode("utf-8"))


def table_paths(directory: Path, fmt: str) -> dict[str, Path]:
    """The file of each table: candles, trades, book and funding."""
    return {table: directory / f"{table}.{fmt}" for table in TABLES}
