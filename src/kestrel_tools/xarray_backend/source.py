"""The file and block a labelled array comes from: the path as kestrel takes
it, the block chosen by "auto" and the acquisition time (errors are named by
byte_sources.naming_source).

>>> from kestrel_tools import DEMO_FILE
>>> resolve_block(file_path(DEMO_FILE), "auto")
('AB', '3D', 'NONE')
"""

from __future__ import annotations

import os
from collections.abc import Mapping, Sequence
from typing import Any

from kestrel_tools import metadata
from kestrel_tools.byte_sources import Source, StorageOptions, contents, local_path, source_name

Block = tuple[str, str, str]


def file_path(path: str | os.PathLike[str]) -> str:
    """`path` as the str that kestrel's functions take."""
    text = os.fspath(path)
    if not isinstance(text, str):
        raise TypeError(f"expected a str or os.PathLike path, got {type(path).__name__}")
    return text


def source_of(source: Source) -> Source:
    """A path as the str that kestrel's functions take; any other source as it is."""
    if isinstance(source, os.PathLike) or (isinstance(source, str) and local_path(source) is not None):
        return file_path(source)
    return source


def resolve_block(path: Source, block: str | Sequence[str], storage_options: StorageOptions = None) -> Block:
    """The block triple to read: `block` itself, or for "auto" the file's primary block."""
    if isinstance(block, str):
        if block != "auto":
            raise ValueError(f'block must be "auto" or a triple such as ("AB", "3D", "NONE"), not {block!r}')
        if isinstance(path, str) and local_path(path) == path:
            return metadata.primary_block(path)
        return metadata.primary_block(source_name(path), blocks=contents(path, storage_options))
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
