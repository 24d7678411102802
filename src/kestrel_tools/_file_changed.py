"""The error of a read that was handed the identity of the file it planned and met another file.

A lazy array records the identity of its file (device, inode, size and times) when it is opened; a read
of a window that finds the path naming a rewritten or replaced file raises this instead of mixing two
files in one array. It is an OSError whose message names the file and whose ``filename`` is the path, and
it pickles whole, so that a Dask worker's error reaches the caller unchanged.

>>> error = FileChangedError("scan.0")
>>> str(error), error.filename, isinstance(error, OSError)
('scan.0: the file changed since it was opened', 'scan.0', True)
"""

from __future__ import annotations

import os
from typing import Any


class FileChangedError(OSError):
    """The file at a path is no longer the one that was opened there."""

    def __init__(self, filename: Any) -> None:
        try:
            shown = os.fsdecode(filename)
        except TypeError:
            shown = str(filename)
        super().__init__(f"{shown}: the file changed since it was opened")
        self.filename = filename

    def __str__(self) -> str:
        return str(self.args[0])

    def __reduce__(self) -> tuple[type[FileChangedError], tuple[Any]]:
        return (type(self), (self.filename,))
