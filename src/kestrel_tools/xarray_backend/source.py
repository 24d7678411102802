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
from collections.abc import Iterator, Mapping, Sequence
from typing import Any

from kestrel_tools import metadata

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
        return metadata.primary_block(path)
    triple = tuple(block)
    if len(triple) != 3 or not all(isinstance(part, str) for part in triple):
        raise ValueError(f'block must be a triple of str such as ("AB", "3D", "NONE"), not {block!r}')
    return triple[0], triple[1], triple[2]


def acquisition(parameters: Mapping[str, Any]) -> dict[str, str]:
    """{"acquired": ISO 8601 time, "acquired_from": "DAT/TIM" or "SRT"} from the
    parameters already read, as the metadata module reads them (empty when the
    time is unknown)."""
    acquired, source = metadata.acquisition(dict(parameters))
    if acquired is None or source is None:
        return {}
    return {"acquired": acquired.isoformat(), "acquired_from": source}


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
