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
        from kestrel_tools import metadata  # type: ignore[attr-defined, unused-ignore]
    except ImportError:
        # Until the metadata module is there: the first 3D block, else the first block.
        contents: list[Block] = kestrel.listContents(path)
        if not contents:
            raise ValueError(f"{path}: the file holds no data block") from None
        return next((b for b in contents if b[1] == "3D"), contents[0])
    chosen: Any = metadata.primary_block(path)
    return str(chosen[0]), str(chosen[1]), str(chosen[2])


class _Quiet:
    """Stands in for the metadata module's per-file warning collector: an array
    carries the acquisition time when it is known and says nothing otherwise."""

    def warn(self, name: str, what: str) -> None:
        pass


def acquisition(parameters: Mapping[str, Any]) -> dict[str, str]:
    """{"acquired": ISO 8601 time, "acquired_from": "DAT/TIM" or "SRT"} from the
    parameters already read, as the metadata module reads them (empty when the
    time is unknown, or before that module is there)."""
    try:
        from kestrel_tools import metadata  # type: ignore[attr-defined, unused-ignore]
    except ImportError:
        return {}
    from_date_time: Any = getattr(metadata, "acquisition_time", None)
    from_srt: Any = getattr(metadata, "_from_srt", None)
    if from_date_time is None:
        return {}
    acquired, source = from_date_time(parameters.get("DAT"), parameters.get("TIM"), _Quiet()), "DAT/TIM"
    if acquired is None and from_srt is not None:
        acquired, source = from_srt(parameters.get("SRT")), "SRT"
    if acquired is None:
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
