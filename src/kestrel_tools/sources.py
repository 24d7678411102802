"""Which files a collection reads: a folder, a glob pattern or paths as given.

>>> from kestrel_tools import DEMO_FILE
>>> expand_sources(DEMO_FILE.parent / "demo*.0") == [str(DEMO_FILE), str(DEMO_FILE.with_name("demo_regions.0"))]
True

A folder or a pattern gives regular files only: a FIFO in a folder has nobody
writing to it as a rule, and reading it would wait forever. What was passed
over is counted (`find_files`), so that a command can say so. A path named
explicitly is taken as given, a FIFO included: `readable_copy` reads such a
stream once, so that code that opens a file twice works from what was read.
"""

from __future__ import annotations

import contextlib
import glob
import os
import shutil
import stat
import tempfile
from collections.abc import Iterable, Iterator
from typing import Any, NamedTuple

from kestrel_tools.byte_sources import is_url

PathArg = str | os.PathLike[str]

__all__ = ["Found", "PathArg", "expand_sources", "find_files", "is_pattern", "readable_copy"]


class Found(NamedTuple):
    """The files a source names, and the entries a folder or pattern passed over
    (FIFOs, sockets, devices, dangling links; folders named like files)."""

    paths: list[Any]  # str paths; and sources that are no path (bytes, file objects) as given
    passed_over: list[str]


def _is_file_name(name: str) -> bool:
    # Instruments number their files: name.0, name.1, name.0003. A folder named
    # so is most likely a file someone replaced: say that it was passed over.
    stem, dot, digits = name.rpartition(".")
    return bool(stem and dot and digits.isascii() and digits.isdigit())


def is_pattern(source: str) -> bool:
    """A glob pattern that names no existing path (a file may hold a '*' in its name)."""
    return glob.has_magic(source) and not os.path.lexists(source)


def _folder(folder: str, recursive: bool) -> Found:
    found = Found([], [])
    if recursive:
        for root, dirs, files in os.walk(folder):
            dirs[:] = sorted(d for d in dirs if not d.startswith("."))
            for name in sorted(f for f in files if not f.startswith(".")):
                path = os.path.join(root, name)
                (found.paths if os.path.isfile(path) else found.passed_over).append(path)
        return found
    with os.scandir(folder) as entries:
        for entry in sorted(entries, key=lambda e: e.name):
            if entry.name.startswith("."):
                continue
            if entry.is_file():
                found.paths.append(entry.path)
            elif not entry.is_dir() or _is_file_name(entry.name):
                found.passed_over.append(entry.path)
    return found


def _one_source(source: PathArg, recursive: bool) -> Found:
    text = os.fspath(source)
    if is_url(text):
        return Found([text], [])
    if os.path.isdir(text):
        return _folder(text, recursive)
    if is_pattern(text):
        found = Found([], [])
        for path in sorted(glob.glob(text, recursive=recursive)):
            (found.paths if os.path.isfile(path) else found.passed_over).append(path)
        return found
    return Found([text], [])


def find_files(sources: PathArg | Iterable[PathArg], *, recursive: bool = False) -> Found:
    """The files named by `sources`, in order, and what their folders passed over.

    A folder gives its regular files sorted by name (hidden ones left out; with
    `recursive` those of every subfolder too). A glob pattern gives its regular
    matches sorted. Any other path is taken as given, whatever it is. An
    iterable is taken item by item, each item a path as given.

    >>> from kestrel_tools import DEMO_FILE
    >>> find_files(DEMO_FILE.parent).passed_over
    []
    """
    if isinstance(sources, (str, os.PathLike)):
        return _one_source(sources, recursive)
    if not isinstance(sources, Iterable) or isinstance(sources, (bytes, bytearray, memoryview)):
        return Found([sources], [])  # one file's bytes, or a file object
    return Found([os.fspath(p) if isinstance(p, (str, os.PathLike)) else p for p in sources], [])


def expand_sources(sources: PathArg | Iterable[PathArg], *, recursive: bool = False) -> list[str]:
    """The files named by `sources`, in order (`find_files` without what was passed over)."""
    return find_files(sources, recursive=recursive).paths


def is_stream(path: Any) -> bool:
    """True for a FIFO, a socket or a device: a file that can be read only once;
    and for a source that is no local path (bytes, a file object, a URL), which
    is read once through its own route too."""
    if not isinstance(path, str) or is_url(path):
        return True
    try:
        mode = os.stat(path).st_mode
    except (OSError, ValueError):
        return False  # the reader will say what is wrong
    return not (stat.S_ISREG(mode) or stat.S_ISDIR(mode))


@contextlib.contextmanager
def readable_copy(path: str) -> Iterator[str]:
    """A path that can be opened as often as needed and gives the same bytes.

    A regular file (or anything that is not a stream) is its own path; a FIFO or
    a device is read once, into a private temporary file removed afterwards.
    """
    if not is_stream(path):
        yield path
        return
    fd, copy = tempfile.mkstemp(prefix="kestrel-", suffix=".0")
    try:
        with os.fdopen(fd, "wb") as out, open(path, "rb") as stream:
            shutil.copyfileobj(stream, out)
        yield copy
    finally:
        os.remove(copy)
