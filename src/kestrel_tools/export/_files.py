"""Output files appear whole or not at all, and a replaced file keeps its permissions."""

from __future__ import annotations

import contextlib
import os
import pathlib
import stat
import tempfile
from collections.abc import Iterator

PathLike = str | os.PathLike[str]


@contextlib.contextmanager
def replacing(target: PathLike) -> Iterator[pathlib.Path]:
    """A temporary path beside `target` that replaces it when the block ends without an error.

    A writer that fails half-way (a full disk, a file-size limit) leaves
    neither a truncated file nor a damaged older one behind. The new file gets
    the permissions of the file it replaces, or those the umask gives a new
    file.
    """
    target = pathlib.Path(target)
    mode = _mode_of(target)
    handle, name = tempfile.mkstemp(prefix=f".{target.name}.", suffix=".part", dir=target.parent)
    os.close(handle)
    temporary = pathlib.Path(name)
    try:
        yield temporary
        os.chmod(temporary, mode)
        os.replace(temporary, target)
    finally:
        temporary.unlink(missing_ok=True)


def write_bytes(target: PathLike, data: bytes | bytearray | memoryview) -> None:
    """Write `data` to `target` through a temporary file, as `replacing` does.

    Writers that build their file in memory (netCDF, Parquet) hand it here, so
    an error of the disk is an OSError from our own write, never one inside a
    format library.
    """
    view = memoryview(data).cast("B")
    with replacing(target) as temporary, open(temporary, "wb") as out:
        while view:
            written = out.write(view)
            view = view[written:]


def _mode_of(target: pathlib.Path) -> int:
    try:
        st = os.stat(target)
    except OSError:
        return 0o666 & ~_umask()
    return stat.S_IMODE(st.st_mode) if stat.S_ISREG(st.st_mode) else 0o666 & ~_umask()


def _umask() -> int:
    # The process umask can only be read by setting it; put it straight back.
    mask = os.umask(0)
    os.umask(mask)
    return mask
