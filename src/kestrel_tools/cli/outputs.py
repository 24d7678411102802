"""Where a command writes: one rule for output folders and for outputs that exist.

- A missing output folder is created (with its parents); a path that cannot be
  a folder, or a folder the command cannot write into, is refused before any
  work ("kestrel: out/: cannot write into this folder: permission denied").
- An output that exists is kept unless --force is given; one run never writes
  one output twice, even with --force (two inputs of the same name).
- Outputs appear whole or not at all: every writer writes a temporary file
  beside the output and renames it over the output when it is complete.
"""

from __future__ import annotations

import os
import pathlib
import tempfile
from collections.abc import Callable
from typing import Any

from kestrel_tools.cli.session import Session
from kestrel_tools.export._files import replacing


class Outputs:
    """The outputs of one run: their folders, and which were written."""

    def __init__(self, session: Session, force: bool) -> None:
        self.session = session
        self.force = force
        self.written: set[pathlib.Path] = set()
        self._ready: dict[pathlib.Path, bool] = {}

    def folder(self, folder: str | os.PathLike[str]) -> bool:
        """Make sure `folder` exists and takes files; a failure is reported once and gives False."""
        path = pathlib.Path(folder or ".")
        key = path.absolute()
        if key not in self._ready:
            self._ready[key] = self._prepare(path)
        return self._ready[key]

    def _prepare(self, path: pathlib.Path) -> bool:
        if path.exists() and not path.is_dir():
            self.session.fail(path, "is a file, not a folder")
            return False
        try:
            path.mkdir(parents=True, exist_ok=True)
            with tempfile.TemporaryFile(dir=path):
                pass
        except OSError as error:
            self.session.fail(path, f"cannot write into this folder: {_words(error)}")
            return False
        return True

    def claim(self, target: pathlib.Path) -> bool:
        """True when `target` may be written now; otherwise the reason is reported."""
        if not self.folder(target.parent):
            return False
        key = target.absolute()
        if key in self.written:
            self.session.fail(target, "already written by this run from another input of the same name")
            return False
        if target.is_dir():
            self.session.fail(target, "is a folder; the output would replace it")
            return False
        if (target.exists() or target.is_symlink()) and not self.force:
            self.session.fail(target, "exists already; --force replaces it")
            return False
        return True

    def write(self, target: pathlib.Path, write: Callable[[pathlib.Path], Any]) -> bool:
        """Claim `target` and write it whole: `write(path)` writes a temporary file that then replaces
        `target`. A failure of the file system is reported against the target and gives False."""
        if not self.claim(target):
            return False
        try:
            with replacing(target) as temporary:
                write(temporary)
        except OSError as error:
            self.session.fail(target, error)
            return False
        self.written.add(target.absolute())
        return True


def _words(error: OSError) -> str:
    from kestrel_tools.cli.messages import what_went_wrong

    return what_went_wrong(error)


def save_text(outputs: Outputs, target: str, lines: list[str]) -> bool:
    """Write the lines a command would have printed to the file `target`."""
    def write(path: pathlib.Path) -> None:
        path.write_text("".join(line + "\n" for line in lines), encoding="utf-8")

    return outputs.write(pathlib.Path(target), write)
