"""Which files a collection reads: a folder, a glob pattern or paths as given.

>>> from kestrel_tools import DEMO_FILE
>>> expand_sources(DEMO_FILE.parent / "demo*.0") == [str(DEMO_FILE), str(DEMO_FILE.with_name("demo_regions.0"))]
True
"""

from __future__ import annotations

import glob
import os
import re
from collections.abc import Iterable

PathArg = str | os.PathLike[str]

__all__ = ["PathArg", "expand_sources"]

# Instruments number their files: name.0, name.1, name.0003. A folder with such a
# name is most likely a file someone replaced, so it is listed (and fails)
# rather than dropped without a word.
_OPUS_NAME = re.compile(r"\.\d+$")


def _folder(folder: str, recursive: bool) -> list[str]:
    found: list[str] = []
    if recursive:
        for root, dirs, files in os.walk(folder):
            dirs[:] = sorted(d for d in dirs if not d.startswith("."))
            found += [os.path.join(root, f) for f in sorted(files) if not f.startswith(".")]
        return found
    with os.scandir(folder) as entries:
        for entry in sorted(entries, key=lambda e: e.name):
            if entry.name.startswith("."):
                continue
            if entry.is_dir() and not _OPUS_NAME.search(entry.name):
                continue
            found.append(entry.path)
    return found


def _one_source(source: PathArg, recursive: bool) -> list[str]:
    text = os.fspath(source)
    if os.path.isdir(text):
        return _folder(text, recursive)
    if glob.has_magic(text) and not os.path.lexists(text):
        return sorted(glob.glob(text, recursive=recursive))
    return [text]


def expand_sources(sources: PathArg | Iterable[PathArg], *, recursive: bool = False) -> list[str]:
    """The files named by `sources`, in order.

    A folder gives its files sorted by name (hidden ones left out; with
    `recursive` those of every subfolder too; without, a subfolder named like an
    instrument file, "x.0", is listed so that its failure is reported). A glob
    pattern gives its matches sorted. Any other path is taken as given. An
    iterable is taken item by item, each item a path as given.
    """
    if isinstance(sources, (str, os.PathLike)):
        return _one_source(sources, recursive)
    return [os.fspath(p) for p in sources]
