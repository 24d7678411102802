"""Windowed reads of a block: its plan, and any rectangular window of its main
array filled into a caller's array.

The native module does both without reading more than the window needs; this
layer checks the output array and counts what it was asked for.

Every process counts the windows it was asked for and their bytes, so that a
test or a benchmark can check that a lazy or distributed read asked for no more
than its chunks need.

>>> import numpy as np
>>> from kestrel_tools import DEMO_FILE
>>> block = ("AB", "3D", "NONE")
>>> plan(str(DEMO_FILE), block)["shape"]
(5, 6, 200)
>>> out = np.empty((1, 2, 3), dtype=np.float32)
>>> read_window(str(DEMO_FILE), block, [(0, 1), (2, 4), (0, 3)], out)
"""

from __future__ import annotations

import contextlib
import threading
from collections.abc import Iterator, Sequence
from typing import Any

import numpy as np
from numpy.typing import NDArray

from kestrel_tools import _native
from kestrel_tools._layout import Plan, normalise_plan
from kestrel_tools.byte_sources import Source, StorageOptions, local_path, opened

Block = tuple[str, str, str]
# One (start, stop) pair per axis; the first axis of a multi-region block may
# instead be an int64 array of row numbers in the stacked array.
Window = Sequence[tuple[int, int] | NDArray[np.int64]]

_lock = threading.Lock()
_stats = {"windows": 0, "bytes": 0}


# The identity of a file as it was planned: device, inode, size, modification
# and change times (ns). A read given one refuses a file that differs.
Identity = tuple[int, ...]


def plan(path: Source, block: Block, storage_options: StorageOptions = None, *, times: bool = True) -> Plan:
    """The layout of `block` of the file at `path` (or any other source), without
    reading its data; errors are those of `getOpusData`. Its "identity" is that of
    the file planned (None for a source that is no local file). With times=False
    a series' "z" and the regions' "start_time" are None and no record is read
    for them (`read_times` gives them)."""
    with opened(path, storage_options) as native:
        raw = _native.plan(native, block) if times else _native.plan(native, block, times=False)
    return normalise_plan(raw)


def read_times(path: Source, block: Block, identity: Identity | None = None,
               storage_options: StorageOptions = None) -> object:
    """The per-record times that plan(times=False) leaves out: a series' time
    axis, a list of each region's start times (None for traces), or None.
    With `identity`, a file that is no longer the one planned is refused as
    `read_window` refuses it."""
    with _checked(path, identity, storage_options) as (native, check):
        times: object = _native.read_times(native, block, **check)
    return times


def read_window(path: Source, block: Block, window: Window, out: NDArray[np.float32],
                identity: Identity | None = None, storage_options: StorageOptions = None) -> None:
    """Fill `out` (C-contiguous float32, the shape of `window`) with that window
    of the block's main array; raises what `getOpusData` raises for the file.

    With `identity` (a plan's), a file that is no longer the one planned is
    refused with OSError "<path>: the file changed since it was opened" before
    anything is read."""
    expected = tuple(len(w) if isinstance(w, np.ndarray) else w[1] - w[0] for w in window)
    if out.shape != expected:
        raise ValueError(f"the output array has shape {out.shape}, the window {expected}")
    with _lock:
        _stats["windows"] += 1
        _stats["bytes"] += out.nbytes
    parts = [w if isinstance(w, np.ndarray) else tuple(w) for w in window]
    with _checked(path, identity, storage_options) as (native, check):
        _native.read_window(native, block, parts, out, **check)


@contextlib.contextmanager
def _checked(path: Source, identity: Identity | None,
             storage_options: StorageOptions) -> Iterator[tuple[Any, dict[str, Any]]]:
    """What a native read is handed: the source, and the identity its file must
    still have (a local file given one), as keyword arguments."""
    local = local_path(path)
    if identity is None or local is None:
        with opened(path, storage_options) as native:
            yield native, {}
    else:
        yield local, {"identity": tuple(identity)}


def read_stats() -> dict[str, int]:
    """What this process was asked to read so far: the number of windows and their bytes."""
    with _lock:
        return dict(_stats)


def reset_read_stats() -> None:
    """Start the counts of `read_stats` again from zero."""
    with _lock:
        for key in _stats:
            _stats[key] = 0
