"""Files that appear only once complete, and where each table's file goes."""

from __future__ import annotations

import contextlib
import os
from collections.abc import Iterator
from pathlib import Path
from typing import IO, Any

from ._schema import TABLES


@contextlib.contextmanager
def replacing(path: Path, mode: str = "w") -> Iterator[IO[Any]]:
    """Open a sibling temporary file that replaces ``path`` only once it is complete.

    A failed or interrupted write never leaves a truncated result under the final name.
    """
    tmp = path.with_name(f".{path.name}.tmp{os.getpid()}")
    try:
        with open(tmp, mode, **({} if "b" in mode else {"encoding": "utf-8", "newline": ""})) as f:
            yield f
        os.replace(tmp, path)
    except BaseException:
        with contextlib.suppress(OSError):
            tmp.unlink()
        raise


def write_text(path: Path, text: str) -> None:
    """Write ``text`` to ``path`` as UTF-8, exactly (no newline is added)."""
    with replacing(path, "wb") as f:
        f.write(text.encode("utf-8"))


def table_paths(directory: Path, fmt: str) -> dict[str, Path]:
    """The file of each table: candles, trades, book and funding."""
    return {table: directory / f"{table}.{fmt}" for table in TABLES}
