"""What the `kestrel` command says when something goes wrong: one line,
"kestrel: FILE: what is wrong", in the words of the person at the instrument.

The reader's own exceptions keep their texts; this is only how the command
words them. A file that ends early is located through its block directory:

>>> what_went_wrong(FileNotFoundError(2, "No such file or directory"))
'no such file'
>>> what_went_wrong(ValueError("Can't process a non-Opus file"))
'not an OPUS file'
"""

from __future__ import annotations

import os
import sys
import traceback
from collections.abc import Sequence

import kestrel

from kestrel_tools import _native
from kestrel_tools._read_errors import READ_ERRORS

Block = tuple[str, str, str]

_NO_BLOCK = "No data block exists in the file for: "


def block_name(block: Sequence[str]) -> str:
    return "block " + " ".join(block)


def what_went_wrong(error: BaseException, path: str | None = None, block: Sequence[str] | None = None) -> str:
    """The words for `error`, met reading `block` of the file at `path` (either may be unknown)."""
    if isinstance(error, OSError):
        return _os_error(error)
    if isinstance(error, kestrel.struct_error):
        return where_it_ends(path) if path is not None else "the file ends before the data it promises"
    if path is not None and isinstance(error, (KeyError, IndexError, TypeError, AttributeError, ValueError,
                                                ZeroDivisionError)):
        # A file cut short fails in many ways; that it is cut short is what the reader needs to know.
        cut = cut_short(path)
        if cut is not None:
            return cut
    text = str(error.args[0]) if len(error.args) == 1 else str(error)
    if isinstance(error, ValueError):
        if text == "Can't process a non-Opus file":
            return "not an OPUS file"
        if text.startswith(_NO_BLOCK):
            return _missing_block(path, text.removeprefix(_NO_BLOCK))
    if isinstance(error, KeyError):
        return f"the file is damaged: the entry {text} that the block needs is missing"
    if isinstance(error, ZeroDivisionError):
        return "the file is damaged: a count or step it records is zero"
    if isinstance(error, MemoryError):
        return f"too large to read into memory{': ' + text if text else ''}"
    if isinstance(error, (IndexError, TypeError, AttributeError)):
        return f"the file is damaged: its values contradict each other ({text})"
    return text or "failed"


def reason_words(reason: str, path: str | None = None) -> str:
    """The words for a failure kept as text, "ExceptionType: message" (a Collection's `failed`).

    Text that does not start with the name of an error a read can raise is
    already words and stays as it is.
    """
    name, sep, message = reason.partition(": ")
    kinds: dict[str, type[BaseException]] = {"error": kestrel.struct_error, "struct.error": kestrel.struct_error}
    for known in (*READ_ERRORS, FileNotFoundError, IsADirectoryError, NotADirectoryError, PermissionError):
        kinds.setdefault(known.__name__, known)
    kind = kinds.get(name) if sep else None
    if kind is None:
        return reason
    return what_went_wrong(kind(message), path)


def _os_error(error: OSError) -> str:
    if isinstance(error, FileNotFoundError):
        return "no such file"
    if isinstance(error, IsADirectoryError):
        return "is a folder, not a file"
    if isinstance(error, NotADirectoryError):
        return "a part of the path is a file, not a folder"
    if isinstance(error, PermissionError):
        return "permission denied"
    words = error.strerror or str(error)
    return words[:1].lower() + words[1:]


def _missing_block(path: str | None, name: str) -> str:
    text = f"the file has no block {name}"
    if path is None:
        return text
    try:
        held = kestrel.listContents(path)
    except Exception:  # the listing is a courtesy; the message stands without it
        return text
    return text + (f"; it holds {', '.join(' '.join(b) for b in held)}" if held else "; it holds no data block")


def cut_short(path: str) -> str | None:
    """Where the file ends, when it is shorter than its block directory says; else None."""
    words = where_it_ends(path)
    return words if words.startswith(_CUT) else None


_CUT = "the file is cut short"


def where_it_ends(path: str) -> str:
    """Where a file that ends early ends, and inside which block, from its block directory.

    A read that runs out of bytes either met a file cut short (an interrupted
    copy) or a block that claims more than it holds.
    """
    try:
        size = os.path.getsize(path)
    except OSError:
        return "the file ends before the data it promises"
    try:
        entries = _native.directory(path)
    except kestrel.struct_error:
        return f"{_CUT}: it ends at byte {size}, inside its header or block directory"
    except Exception:  # no directory to tell more from
        return f"the file ends at byte {size}, before the data it promises"
    beyond = [(offset, length, role, owner) for role, owner, offset, length in entries
              if length > 0 and offset + length > size]
    if not beyond:
        return f"the file is damaged: a block claims more bytes than it holds (the file ends at byte {size})"
    offset, length, role, owner = min(beyond)
    what = _entry_name(role, owner)
    if offset < size:
        return f"{_CUT}: it ends at byte {size}, inside {what} (bytes {offset} to {offset + length})"
    return f"{_CUT}: it ends at byte {size}, before {what} (bytes {offset} to {offset + length})"


def _entry_name(role: str, owner: Block | None) -> str:
    if role == "data":
        return block_name(owner) if owner else "an unnamed data block"
    if role == "data parameters" and owner:
        return f"the parameters of {block_name(owner)}"
    return f"the {role}"


def report(path: object, error: BaseException | str, block: Sequence[str] | None = None, *,
           verbose: bool = False) -> None:
    """One line on standard error, "kestrel: FILE: what is wrong"; with `verbose` the full error after it."""
    if isinstance(error, BaseException):
        words = what_went_wrong(error, str(path) if path is not None else None, block)
        if block is not None and "block " not in words:
            words = f"{block_name(block)}: {words}"
    else:
        words = error
    print(f"kestrel: {path}: {words}" if path is not None else f"kestrel: {words}", file=sys.stderr)
    if verbose and isinstance(error, BaseException):
        traceback.print_exception(error, file=sys.stderr)
