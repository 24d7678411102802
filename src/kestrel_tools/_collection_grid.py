"""Spectra on an x axis of the caller's or on the common grid of a collection.

The common grid is the range every file covers, at the finest spacing among
them, running the way most files run (wavenumbers usually fall). It never holds
more points than the file with the finest spacing, whose own axis spans at
least that range. Interpolation is linear, as numpy.interp, with NaN outside a
file's own range; rows that share an axis share one set of weights, so a
thousand files on one axis cost two gathers and a multiply-add.
"""

from __future__ import annotations

from collections.abc import Sequence
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import numpy.typing as npt

FloatArray = npt.NDArray[np.float64]
Matrix = npt.NDArray[np.float32]

# Rows interpolated at once: bounds the float64 scratch arrays.
_ROWS = 256


class NoCommonRange(ValueError):
    """The files of a collection share no x range."""


def common_grid(paths: Sequence[str], npts: FloatArray, fxv: FloatArray, lxv: FloatArray,
                unit: str | None) -> FloatArray:
    """The range every file covers at the finest spacing among them.

    >>> common_grid(["a", "b"], np.array([5.0, 3.0]), np.array([8.0, 9.0]), np.array([0.0, 1.0]), "cm-1")
    array([8., 6., 4., 2.])

    Raises NoCommonRange naming two files whose ranges do not meet.
    """
    low, high = np.minimum(fxv, lxv), np.maximum(fxv, lxv)
    a, b = int(np.argmax(low)), int(np.argmin(high))
    start, stop = float(low[a]), float(high[b])
    if not start <= stop:
        units = f" {unit}" if unit else ""
        raise NoCommonRange(f"the files share no x range: {paths[a]} covers {float(low[a])!r} to "
                            f"{float(high[a])!r}{units}, {paths[b]} {float(low[b])!r} to {float(high[b])!r}{units}")
    spread = npts > 1
    if not spread.any() or start == stop:
        return np.array([start])
    step = float(np.min((high[spread] - low[spread]) / (npts[spread] - 1)))
    n = int(np.floor((stop - start) / step * (1 + 1e-12))) + 1
    falling = np.count_nonzero(fxv > lxv) * 2 > fxv.size
    grid = stop - np.arange(n) * step if falling else start + np.arange(n) * step
    return np.clip(grid, start, stop)


def interpolate(values: Matrix, rows: npt.NDArray[np.int64], x: FloatArray, target: FloatArray, out: Matrix,
                out_rows: npt.NDArray[np.int64], workers: int = 1) -> None:
    """Rows `rows` of `values` (all on axis `x`) linearly onto `target`, into rows `out_rows` of `out`."""
    columns = np.arange(x.size)
    if x.size > 1 and x[0] > x[-1]:
        x, columns = x[::-1], columns[::-1]
    if x.size == 1:
        index = np.zeros(target.size, dtype=np.intp)
        weight = np.zeros(target.size)
    else:
        index = np.clip(np.searchsorted(x, target, side="right") - 1, 0, x.size - 2)
        weight = (target - x[index]) / (x[index + 1] - x[index])
    outside = ~((target >= x[0]) & (target <= x[-1]))  # NaN targets too
    left, right = columns[index], columns[np.minimum(index + 1, x.size - 1)]
    # float32 like the values: y0 * (1 - w) + y1 * w gives each end's value exactly at w = 0 and w = 1.
    weight32 = weight.astype(np.float32)
    keep32 = (1.0 - weight).astype(np.float32)
    contiguous = rows.size > 0 and bool(np.all(np.diff(rows) == 1))

    def chunk_onto(start: int) -> None:
        # numpy releases the GIL in take and the arithmetic: chunks run side by side.
        stop = min(start + _ROWS, rows.size)
        chunk = values[rows[start]:rows[stop - 1] + 1] if contiguous else values[rows[start:stop]]
        result = chunk.take(left, axis=1)
        result *= keep32
        upper = chunk.take(right, axis=1)
        upper *= weight32
        result += upper
        result[:, outside] = np.nan
        out[out_rows[start:stop]] = result

    starts = range(0, rows.size, _ROWS)
    if workers > 1 and len(starts) > 1:
        with ThreadPoolExecutor(workers) as executor:
            list(executor.map(chunk_onto, starts))
    else:
        for start in starts:
            chunk_onto(start)


def same_axis(x: FloatArray, target: FloatArray, tolerance: float = 1e-9) -> bool:
    """True when `x` is `target` within `tolerance` of its largest end: no interpolation needed."""
    if x.size != target.size or x.size == 0:
        return False
    scale = tolerance * max(abs(float(x[0])), abs(float(x[-1])))
    return bool(np.all(np.abs(x - target) <= scale))
