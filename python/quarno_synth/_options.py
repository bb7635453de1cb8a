"""The checks of the options every output path shares: the book layout, the batch size and
the file format.

Known divergence: a sweep reports a bad ``book`` or ``batch_bars`` in its own words (single
quotes, SweepError); ``sweep_option_error`` keeps those texts beside the others.
"""

from __future__ import annotations

from ._schema import BOOK_FORMS

# The formats of table files.
FORMATS = ("parquet", "csv")

# What the command line's `generate --format` writes: the response document, or table files.
CLI_FORMATS = ("json", *FORMATS)


def check_book(book: str) -> str:
    """``book`` when it is a book layout ("long" or "wide"), else ValueError."""
    if book not in BOOK_FORMS:
        raise ValueError(f'book must be "long" or "wide", not {book!r}')
    return book


def check_format(fmt: str) -> str:
    """``fmt`` when it is a table file format ("parquet" or "csv"), else ValueError."""
    if fmt not in FORMATS:
        raise ValueError(f'format must be "parquet" or "csv", not {fmt!r}')
    return fmt


def check_batch_bars(batch_bars: int) -> int:
    """``batch_bars`` when it is an int of at least 1 (TypeError, ValueError otherwise)."""
    if isinstance(batch_bars, bool) or not isinstance(batch_bars, int):
        raise TypeError(f"batch_bars must be an int, not {type(batch_bars).__name__}")
    if batch_bars < 1:
        raise ValueError(f"batch_bars must be at least 1, not {batch_bars}")
    return batch_bars


def sweep_option_error(book: object, batch_bars: object, max_workers: object) -> str | None:
    """What is wrong with a sweep's options, in the sweep's words; None when nothing is."""
    if book not in BOOK_FORMS:
        return f"book must be 'long' or 'wide', not {book!r}"
    if batch_bars is not None and (isinstance(batch_bars, bool) or batch_bars < 1):  # type: ignore[operator]
        return f"batch_bars must be a positive number of bars, not {batch_bars!r}"
    if max_workers is not None and max_workers < 1:  # type: ignore[operator]
        return f"max_workers must be at least 1, not {max_workers!r}"
    return None
