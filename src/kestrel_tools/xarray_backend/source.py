"""The file and block a labelled array comes from: the path as kestrel takes
it, the block chosen by "auto", the acquisition time, and errors that name
the file.

>>> from kestrel_tools import DEMO_FILE
>>> resolve_block(file_path(DEMO_FILE), "auto")
('AB', '3D', 'NONE')
"""

from __future__ import annotations

import contextlib
import os
from collections.abc import Iterator, Sequence
from typing import Any

import kestrel

Block = tuple[str, str, str]


def file_path(path: str | os.PathLike[str]) -> str:
    """`path` as the str that kestrel's functions take."""
    text = os.fspath(path)
    if not isinstance(text, str):
        raise TypeError(f"expected a str or os.PathLike path, got {type(path).__name__}")
    return text


def resolve_block(path: str, block: str | Sequence[str]) -> Block:
    """The block triple to read: `block` itself, or for "auto" the file's primary block."""
    if isinstance(block, str):
        if block != "auto":
            raise ValueError(f'block must be "auto" or a triple such as ("AB", "3D", "NONE"), not {block!r}')
        return _primary_block(path)
    triple = tuple(block)
    if len(triple) != 3 or not all(isinstance(part, str) for part in triple):
        raise ValueError(f'block must be a triple of str such as ("AB", "3D", "NONE"), not {block!r}')
    return triple[0], triple[1], triple[2]


def _primary_block(path: str) -> Block:
    try:
        from kestrel_tools.metadata import primary_block  # type: ignore[import-not-found, import-untyped, unused-ignore]
    except ImportError:
        # Until the metadata module is there: the first 3D block, else the first block.
        contents: list[Block] = kestrel.listContents(path)
        if not contents:
            raise ValueError(f"{path}: the file holds no data block") from None
        return next((b for b in contents if b[1] == "3D"), contents[0])
    chosen: Any = primary_block(path)
    return str(chosen[0]), str(chosen[1]), str(chosen[2])


def acquisition(path: str, block: Block) -> dict[str, str]:
    """{"acquired": ISO 8601 time, "acquired_from": what it was taken from}, as far
    as the metadata module knows them (empty without it)."""
    try:
        from kestrel_tools.metadata import file_info  # type: ignore[import-not-found, import-untyped, unused-ignore]
    except ImportError:
        return {}
    info: Any = file_info(path, block)
    found: dict[str, str] = {}
    acquired = getattr(info, "acquired", None)
    if acquired is not None:
        found["acquired"] = acquired.isoformat() if hasattr(acquired, "isoformat") else str(acquired)
        source = getattr(info, "acquired_from", None)
        if source:
            found["acquired_from"] = str(source)
    return found


@contextlib.contextmanager
def naming_file(path: str, block: Block | None = None) -> Iterator[None]:
    """Adds the file and block to the notes of an exception passing through, so a
    failure at compute time (perhaps on another machine) says what it was reading."""
    try:
        yield
    except Exception as error:
        note = f"while reading {path}" if block is None else f"while reading block {block} of {path}"
        if note not in getattr(error, "__notes__", ()):
            error.add_note(note)
        raise
