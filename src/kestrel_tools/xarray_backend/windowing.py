"""From an indexing key to one windowed read: the smallest window that holds
every selected element, and the numpy index that picks them out of it.

Keys are those of xarray's outer indexing: per axis an int, a slice (any step)
or a 1-D array of ints.

>>> window, then = window_of((2, slice(0, 10, 3)), (5, 20))
>>> window, then
([(2, 3), (0, 10)], (0, slice(0, 10, 3)))
"""

from __future__ import annotations

import operator
from collections.abc import Sequence
from typing import Any

import numpy as np
from numpy.typing import NDArray

WindowPart = tuple[int, int] | NDArray[np.int64]
Index = int | slice | NDArray[np.intp]


def window_of(key: Sequence[Any], shape: Sequence[int], *, rows_by_number: bool = False) -> tuple[
        list[WindowPart], tuple[Index, ...]]:
    """The window to read for `key` on an array of `shape`, and the index into it.

    With rows_by_number an array on the first axis is passed on as the window
    (the row numbers themselves) instead of the range around it.
    """
    if len(key) != len(shape):
        raise IndexError(f"{len(key)} indices for an array of {len(shape)} dimensions")
    window: list[WindowPart] = []
    then: list[Index] = []
    for axis, (part, size) in enumerate(zip(key, shape)):
        span: tuple[int, int]
        rest: Index
        if isinstance(part, slice):
            span, rest = _slice_window(part, size)
        elif isinstance(part, np.ndarray) or (isinstance(part, Sequence) and not isinstance(part, str)):
            rows = _checked_indices(np.asarray(part), size)
            if axis == 0 and rows_by_number:
                window.append(rows.astype(np.int64))
                then.append(slice(None))
                continue
            span, rest = _array_window(rows)
        else:
            span, rest = _int_window(operator.index(part), size)
        window.append(span)
        then.append(rest)
    return window, tuple(then)


def _int_window(k: int, size: int) -> tuple[tuple[int, int], int]:
    if not -size <= k < size:
        raise IndexError(f"index {k} is out of bounds for an axis of size {size}")
    k %= size
    return (k, k + 1), 0


def _slice_window(part: slice, size: int) -> tuple[tuple[int, int], slice]:
    start, stop, step = part.indices(size)
    picked = range(start, stop, step)
    if not picked:
        return (0, 0), slice(None)
    low, high = min(picked[0], picked[-1]), max(picked[0], picked[-1]) + 1
    if step == 1:
        return (low, high), slice(None)
    first, last = picked[0] - low, picked[-1] - low
    end = last + 1 if step > 0 else (last - 1 if last > 0 else None)
    return (low, high), slice(first, end, step)


def _checked_indices(values: NDArray[Any], size: int) -> NDArray[np.intp]:
    if values.ndim != 1 or (values.size and not np.issubdtype(values.dtype, np.integer)):
        raise IndexError("an array index must be a 1-D array of integers")
    rows = values.astype(np.intp)
    if rows.size and (rows.min() < -size or rows.max() >= size):
        raise IndexError(f"an index is out of bounds for an axis of size {size}")
    result: NDArray[np.intp] = np.where(rows < 0, rows + size, rows)
    return result


def _array_window(rows: NDArray[np.intp]) -> tuple[tuple[int, int], NDArray[np.intp]]:
    if not rows.size:
        return (0, 0), rows
    low = int(rows.min())
    return (low, int(rows.max()) + 1), rows - low


def pick(block: NDArray[Any], then: Sequence[Index]) -> NDArray[Any]:
    """`block[then]` with each array index applied on its own axis (outer
    indexing; numpy would broadcast several arrays together)."""
    for axis, part in enumerate(then):
        if isinstance(part, np.ndarray):
            block = np.take(block, part, axis=axis)
    picked: NDArray[Any] = block[tuple(slice(None) if isinstance(p, np.ndarray) else p for p in then)]
    return picked
