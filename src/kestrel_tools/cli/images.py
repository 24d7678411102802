"""The visible-light pictures of a file: listed after its data blocks, and
written out one file each with --save-images."""

from __future__ import annotations

import pathlib
from typing import Any

import kestrel

from kestrel_tools._read_errors import READ_ERRORS
from kestrel_tools.cli.outputs import Outputs
from kestrel_tools.cli.session import Session

# File name extensions for the picture types that getVisImages names.
EXTENSIONS = {"jpeg": "jpg", "png": "png", "gif": "gif", "bmp": "bmp"}


def describe(number: int, picture: dict[str, Any]) -> str:
    """One line: number, title, type, size and stage position when known."""
    title = picture.get("Title", "(untitled)")
    if "image" in picture:
        kind = picture["imgext"] or "unknown"
        size = f"{len(picture['image'])} bytes"
    else:
        kind, size = "no data", ""
    line = f"  {number:>3}  {str(title):<24} {kind:<8} {size:>14}"
    position = [f"{axis} {picture[axis]}" for axis in ("Pos. X", "Pos. Y") if axis in picture]
    return (line + "  " + "  ".join(position)).rstrip()


def picture_file_name(path: str, number: int, picture: dict[str, Any]) -> str:
    ext = EXTENSIONS.get(picture["imgext"], "bin")
    return f"{pathlib.Path(path).stem}_picture{number:03d}.{ext}"


def show_pictures(session: Session, outputs: Outputs, path: str, save_to: str | None = None) -> None:
    """Lists the pictures of an OPUS file and, with `save_to`, writes each one that has data there."""
    try:
        pictures = kestrel.getVisImages(path)
    except READ_ERRORS as error:
        session.fail(path, f"its pictures cannot be read: {_words(error, path)}")
        return
    if not pictures and save_to is None:
        return
    session.say(f"{len(pictures)} picture{'s' if len(pictures) != 1 else ''}")
    for number, picture in enumerate(pictures, start=1):
        session.say(describe(number, picture))
    if save_to is None or not outputs.folder(save_to):
        return
    for number, picture in enumerate(pictures, start=1):
        if "image" not in picture:
            continue
        target = pathlib.Path(save_to) / picture_file_name(path, number, picture)
        data: bytes = picture["image"]
        if outputs.write(target, lambda temporary: temporary.write_bytes(data)):
            session.say(f"saved {target}")


def _words(error: BaseException, path: str) -> str:
    from kestrel_tools.cli.messages import what_went_wrong

    return what_went_wrong(error, path)
