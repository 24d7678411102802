"""Output files appear whole or not at all."""

from __future__ import annotations

import contextlib
import os
import pathlib
import tempfile
from collections.abc import Iterator

PathLike = str | os.PathLike[str]


@contextlib.contextmanager
def replacing(target: PathLike) -> Iterator[pathlib.Path]:
    """A temporary path beside `target` that replaces it when the block ends without an error.

    A writer that fails half-way leaves neither a truncated file nor a damaged
    older one behind.
    """
    target = pathlib.Path(target)
    handle, name = tempfile.mkstemp(prefix=f".{target.name}.", suffix=".part", dir=target.parent)
    os.close(handle)
    temporary = pathlib.Path(name)
    try:
        yield temporary
        os.chmod(temporary, 0o666 & ~_umask())
        os.replace(temporary, target)
    finally:
        temporary.unlink(missing_ok=True)


def _umask() -> int:
    # The process umask can only be read by setting it; put it straight back.
    mask = os.umask(0)
    os.umask(mask)
    return mask
