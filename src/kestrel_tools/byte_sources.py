"""Files that are not on a local disk: what every reading function accepts, and
the one place where it becomes what the native reader reads.

A source is a path (str or path object), bytes or any other buffer (a
bytearray, a memoryview, a numpy array), a binary file object (anything with
``seek`` and ``readinto`` or ``read``), or an fsspec URL such as
"s3://bucket/map.0", "https://host/map.0" or "file:///data/map.0" with
`storage_options` for its file system (``pip install "kestrel-opus[remote]"``).

The native reader reads a path through the file's descriptor, a buffer in
place (nothing is copied) and a file object range by range: each range a read
needs is one seek and one readinto, so a window of a remote file fetches about
the window's bytes. A URL is opened through fsspec without a read-ahead cache
of its own for the same reason; a "file://" URL is read as the local path.

>>> from kestrel_tools import DEMO_FILE
>>> data = DEMO_FILE.read_bytes()
>>> with opened(data) as native:
...     type(native).__name__
'memoryview'
>>> source_name(data)
'<bytes of 67436 bytes>'
>>> is_url("s3://bucket/map.0"), is_url("C:/data/map.0"), is_url(DEMO_FILE)
(True, False, False)
"""

from __future__ import annotations

import contextlib
import os
import re
import threading
import weakref
from collections.abc import Iterator, Mapping
from typing import Any, Protocol, runtime_checkable

from kestrel_tools._optional import require

__all__ = ["Source", "StorageOptions", "contents", "has_opus_magic", "is_url", "local_path", "naming_source", "opened",
           "source_name"]


@runtime_checkable
class BinaryFile(Protocol):
    """A binary file object as the reader needs it: seek, and read (or readinto)."""

    def seek(self, offset: int, whence: int = ..., /) -> int: ...
    def read(self, size: int = ..., /) -> bytes: ...


Source = str | os.PathLike[str] | bytes | bytearray | memoryview | BinaryFile
StorageOptions = Mapping[str, Any] | None

OPUS_MAGIC = b"\x0a\x0a\xfe\xfe"

# A scheme of two or more letters: "C:/x" is a Windows path, not a URL.
_URL = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]+://")

# File objects are read through seek and readinto, which two threads must not
# interleave: every read of one object holds its lock (a reader may nest them).
_locks: weakref.WeakKeyDictionary[Any, threading.RLock] = weakref.WeakKeyDictionary()
_locks_guard = threading.Lock()
_fallback_lock = threading.RLock()


def is_url(source: object) -> bool:
    """True for a str that names a file by URL ("scheme://...")."""
    return isinstance(source, str) and _URL.match(source) is not None


def local_path(source: object) -> str | None:
    """The local path `source` names (a path, or a "file://" URL), else None."""
    if isinstance(source, str) and source.startswith("file://"):
        return _file_url_path(source)
    if isinstance(source, os.PathLike) or (isinstance(source, str) and not is_url(source)):
        path = os.fspath(source)
        return path if isinstance(path, str) else None
    return None


def _file_url_path(url: str) -> str:
    from urllib.parse import unquote, urlparse

    parsed = urlparse(url)
    if parsed.netloc not in ("", "localhost"):
        raise ValueError(f"{url}: a file:// URL names a local file; this one names the host {parsed.netloc!r}")
    return unquote(parsed.path)


def source_name(source: object) -> str:
    """How messages name `source`: its path or URL, a file object's name, or
    what kind of buffer it is."""
    if isinstance(source, (str, os.PathLike)):
        return os.fsdecode(source)
    if isinstance(source, (bytes, bytearray, memoryview)):
        return f"<{type(source).__name__} of {memoryview(source).nbytes} bytes>"
    name = getattr(source, "name", None)
    if isinstance(name, str) and name:
        return name
    path = getattr(source, "path", None)
    if isinstance(path, str) and path:
        return path
    return f"<{type(source).__name__} object>"


@contextlib.contextmanager
def naming_source(source: object, block: tuple[str, str, str] | None = None) -> Iterator[None]:
    """Adds the source (and block) to the notes of an exception passing through."""
    try:
        yield
    except Exception as error:
        name = source_name(source)
        note = f"while reading {name}" if block is None else f"while reading block {block} of {name}"
        if note not in getattr(error, "__notes__", ()):
            error.add_note(note)
        raise


def _lock_of(file: object) -> threading.RLock:
    with _locks_guard:
        try:
            lock = _locks.get(file)
            if lock is None:
                lock = _locks[file] = threading.RLock()
            return lock
        except TypeError:  # not weakly referenceable
            return _fallback_lock


@contextlib.contextmanager
def opened(source: Source, storage_options: StorageOptions = None) -> Iterator[Any]:
    """`source` as the native reader takes it, for the duration of the block.

    A path gives its str, bytes and other buffers a memoryview over the same
    memory, a file object itself (its position is moved; reads of one object
    from several threads take turns), and a URL an fsspec file that reads
    exactly the ranges asked for, closed on the way out (`storage_options`
    apply to URLs only). A failure names the source in a note.
    """
    with naming_source(source):
        path = local_path(source)
        if path is not None:
            yield path
        elif is_url(source):
            assert isinstance(source, str)
            with _open_url(source, storage_options) as file:
                yield file
        elif isinstance(source, (bytes, bytearray, memoryview)):
            yield memoryview(source)
        elif _is_file_object(source):
            with _lock_of(source):
                yield source
        else:
            try:
                view = memoryview(source)  # type: ignore[arg-type]  # any other buffer: a numpy array, an mmap
            except TypeError:
                raise TypeError(f"expected a path, bytes, a binary file object or a URL, "
                                f"not {type(source).__name__}") from None
            yield view


def _is_file_object(source: object) -> bool:
    return hasattr(source, "seek") and (hasattr(source, "readinto") or hasattr(source, "read"))


@contextlib.contextmanager
def _open_url(url: str, storage_options: StorageOptions) -> Iterator[Any]:
    fsspec = require("fsspec", "remote")
    fs, path = fsspec.core.url_to_fs(url, **dict(storage_options or {}))
    # No cache: each read the plan makes is one ranged request of its own size
    # (the native reader keeps the few small blocks that planning reads).
    file = fs.open(path, "rb", cache_type="none")
    try:
        yield file
    finally:
        file.close()


def read_head(source: Source, storage_options: StorageOptions = None, size: int = 4) -> bytes:
    """The first `size` bytes of `source` (fewer when it is shorter)."""
    with opened(source, storage_options) as native:
        if isinstance(native, str):
            with open(native, "rb") as f:
                return f.read(size)
        if isinstance(native, memoryview):
            return bytes(native[:size])
        # A file object is left where it was.
        position = native.tell() if hasattr(native, "tell") else None
        native.seek(0)
        head = native.read(size)
        if position is not None:
            native.seek(position)
        return bytes(head)


def has_opus_magic(source: Source, storage_options: StorageOptions = None) -> bool:
    """True when `source` starts with the OPUS magic number; False when it does
    not or cannot be read."""
    try:
        return read_head(source, storage_options) == OPUS_MAGIC
    except (OSError, ValueError, TypeError, ImportError):
        return False


def contents(source: Source, storage_options: StorageOptions = None) -> list[tuple[str, str, str]]:
    """The data blocks of `source` as listContents lists them."""
    with opened(source, storage_options) as native:
        if isinstance(native, str):
            import kestrel

            listing = kestrel.listContents(native)
        else:
            from kestrel_tools import _native

            listing = _native.contents(native)
    return [(b[0], b[1], b[2]) for b in listing]


def whole_bytes(source: Any) -> Any:
    """The bytes object a memoryview shows whole (no copy), else `source` itself:
    bytes pickle, so a lazy array holding them can go to other processes."""
    if isinstance(source, memoryview) and isinstance(source.obj, bytes) and source.nbytes == len(source.obj):
        return source.obj
    return source
