"""Which files a command reads: its inputs as given, folders opened, patterns matched.

One rule for every subcommand: a file is taken as given (a missing one fails
when it is read); a folder gives the OPUS files in it, sorted by name (other
files, such as earlier outputs and notes, are passed over); a quoted glob
pattern gives the files it matches, sorted. A folder without an OPUS file, or
a pattern that matches nothing, is a failure of that input ("kestrel: run/:
no OPUS file in this folder"), the same in every subcommand.
"""

from __future__ import annotations

import os
from collections.abc import Iterable

import kestrel

from kestrel_tools.cli.session import Session
from kestrel_tools.sources import find_files, is_pattern


def _looks_opus(path: str) -> bool:
    try:
        return os.path.isdir(path) or kestrel.isOpusFile(path)
    except OSError:
        return True  # unreadable: its read reports it


def _nothing_in(folder: str, recursive: bool, recursive_option: bool) -> str:
    """Why a folder gave no file, and where its files may be."""
    entries = os.listdir(folder)
    if not entries:
        return "the folder is empty"
    subfolders = sorted(e for e in entries if os.path.isdir(os.path.join(folder, e)))
    if recursive or not subfolders:
        return "no OPUS file in this folder"
    names = ", ".join(subfolders[:3]) + (f" and {len(subfolders) - 3} more" if len(subfolders) > 3 else "")
    how = "--recursive reads them" if recursive_option else "name them to read their files"
    return f"no OPUS file in this folder, only subfolders ({names}): {how}"


def gather(session: Session, sources: Iterable[str], *, recursive: bool = False,
           every_file: bool = False, recursive_option: bool = False) -> list[str]:
    """The files that `sources` name, in order; a source that names none is reported as a failure.

    With `every_file`, a folder gives all its files, OPUS or not (each is then
    read, and a file that is not OPUS fails there). `recursive_option` says the
    command has --recursive (a folder of subfolders alone then points to it).
    """
    files: list[str] = []
    for source in sources:
        try:
            found, passed_over = find_files(source, recursive=recursive)
        except OSError as error:  # a folder that cannot be listed
            session.fail(source, error)
            continue
        if passed_over:
            names = ", ".join(os.path.basename(p) for p in passed_over[:3]) + (", ..." if len(passed_over) > 3 else "")
            session.note(source, f"passed over {len(passed_over)} entries that are not regular files ({names}); "
                                 "name a FIFO explicitly to read it")
        if os.path.isdir(source):
            if not every_file:
                found = [path for path in found if _looks_opus(path)]
            if not found:
                session.fail(source, _nothing_in(source, recursive, recursive_option))
        elif is_pattern(source) and not found:
            session.fail(source, "no file matches this pattern")
        files.extend(found)
    return files
