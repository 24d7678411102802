"""The visible-light pictures of a file: listed after its data blocks, and
written out one file each with --save-images."""

from __future__ import annotations

import pathlib
from typing import Any

import kestrel

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


def save_pictures(path: str, pictures: list[dict[str, Any]], directory: str | pathlib.Path,
                  ) -> list[pathlib.Path]:
    """Writes the data of every picture that has some; returns the paths written."""
    folder = pathlib.Path(directory)
    folder.mkdir(parents=True, exist_ok=True)
    written = []
    for number, picture in enumerate(pictures, start=1):
        if "image" not in picture:
            continue
        target = folder / picture_file_name(path, number, picture)
        target.write_bytes(picture["image"])
        written.append(target)
    return written


def show_pictures(path: str, save_to: str | None = None) -> None:
    """Lists the pictures of an OPUS file and optionally saves them."""
    if not kestrel.isOpusFile(path):
        return
    pictures = kestrel.getVisImages(path)
    if not pictures and save_to is None:
        return
    print(f"{len(pictures)} picture{'s' if len(pictures) != 1 else ''}")
    for number, picture in enumerate(pictures, start=1):
        print(describe(number, picture))
    if save_to is not None:
        for target in save_pictures(path, pictures, save_to):
            print(f"saved {target}")
