"""How read_collection fills its matrix: the native batch fill on a thread pool,
checked with array operations, and the public API for the rare file the native
path leaves open."""

from __future__ import annotations

import math
from collections.abc import Sequence
from concurrent.futures import ThreadPoolExecutor
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

import kestrel
from kestrel_tools import _native
from kestrel_tools.metadata import Triple, primary_block, ranked_blocks
from kestrel_tools.progress import Progress

OnError = Literal["collect", "raise", "skip"]
FloatArray = npt.NDArray[np.float64]
Matrix = npt.NDArray[np.float32]

# Axes agree when their ends differ by no more than this, relative to the larger end.
AXIS_TOLERANCE = 1e-9

# Status codes the native fill writes into column 0 of its meta array.
OK, ERROR, NO_BLOCK, WIDTH, SHORT, REDO = range(6)


def reason(error: BaseException) -> str:
    """How a failure reads in Collection.failed."""
    return f"{type(error).__name__}: {error}"


def no_block_error() -> ValueError:
    return ValueError("the file holds no 2D data block that can be read")


def axis_error(n: int, fxv: float, lxv: float, ref: tuple[int, float, float]) -> ValueError:
    return ValueError(f"x axis differs from the first file's: {n} points from {fxv!r} to {lxv!r}, "
                      f"not {ref[0]} points from {ref[1]!r} to {ref[2]!r}")


def short_error(got: int, npt_: int) -> ValueError:
    return ValueError(f"the data block ends after {got} of {npt_} values (the file is cut short)")


def read_single(path: str, block: Triple | None) -> tuple[Triple, Any]:
    """One file through the public API: (block, SingleDataReturn); raises what that raises."""
    if block is None:
        listing = [b for b in kestrel.listContents(path) if b[1] == "2D"]
        try:
            block = primary_block(path, blocks=listing)
        except ValueError:
            raise no_block_error() from None
    result = kestrel.getOpusData(path, block)
    npt_ = result.parameters["NPT"]
    if len(result.y) < npt_:
        # getOpusData returns what is there; in a matrix a short row would be corrupt data.
        raise short_error(len(result.y), npt_)
    return block, result


class Fill:
    """A matrix being filled: out row r belongs to paths[first + r]."""

    def __init__(self, paths: list[str], block: Triple | None, on_error: OnError) -> None:
        self.paths = paths
        self.block = block
        self.candidates: list[Triple] = ranked_blocks(("2D",)) if block is None else [block]
        self.on_error = on_error
        self.failures: dict[int, str] = {}  # path index -> reason
        self.x: FloatArray = np.empty(0)
        self.out: Matrix = np.empty((0, 0), np.float32)
        self.first = len(paths)
        self.good = np.zeros(0, dtype=bool)
        self.block_index = np.zeros(0, dtype=np.int64)

    def fail(self, index: int, error: BaseException) -> None:
        if self.on_error == "raise":
            error.add_note(f"while reading {self.paths[index]} into a collection")
            raise error
        self.failures[index] = reason(error)

    def take(self, row: int, block: Triple, y: Any) -> None:
        self.out[row] = y
        self.good[row] = True
        self.block_index[row] = self.candidates.index(block)

    def allocate(self, first: int, width: int) -> None:
        self.first = first
        rows = len(self.paths) - first
        self.out = np.empty((rows, width), dtype=np.float32)
        self.good = np.zeros(rows, dtype=bool)
        self.block_index = np.zeros(rows, dtype=np.int64)

    # ------------------------------------------------------------- results

    def spectra(self) -> Matrix:
        """The matrix with the good rows moved up over the failed ones, in place."""
        good = np.flatnonzero(self.good)
        out = self.out
        if good.size == out.shape[0]:
            return out
        # Runs of consecutive good rows move as one slice each.
        breaks = np.flatnonzero(np.diff(good) != 1) + 1
        dst = 0
        for run in np.split(good, breaks):
            if run.size:
                if run[0] != dst:
                    out[dst:dst + run.size] = out[run[0]:run[-1] + 1]
                dst += run.size
        try:
            out.resize((good.size, out.shape[1]), refcheck=False)  # the array is ours alone
        except ValueError:
            out = np.ascontiguousarray(out[: good.size])
        return out

    def files(self) -> list[str]:
        return [self.paths[self.first + int(r)] for r in np.flatnonzero(self.good)]

    def blocks(self) -> list[Triple]:
        return [self.candidates[int(i)] for i in self.block_index[self.good]]

    def failed(self) -> list[tuple[str, str]]:
        return [(self.paths[i], self.failures[i]) for i in sorted(self.failures)]


def fill_same_axis(fill: Fill, workers: int, bar: Progress) -> None:
    """Every file must share the first readable file's x axis."""
    paths = fill.paths
    first = None
    # The first readable file fixes the axis and the row width.
    for index, path in enumerate(paths):
        try:
            first = (index, *read_single(path, fill.block))
        except Exception as error:  # noqa: BLE001 - any failure of a file is that file's
            fill.fail(index, error)
        bar.advance()
        if first is not None:
            break
    if first is None:
        return
    index, block, result = first
    fill.x = np.asarray(result.x, dtype=np.float64)
    params = result.parameters
    ref = (int(params["NPT"]), float(params["FXV"]), float(params["LXV"]))
    fill.allocate(index, fill.x.size)
    fill.take(0, block, result.y)
    rest = len(paths) - index - 1
    if rest == 0:
        return
    meta = np.empty((fill.out.shape[0], 5), dtype=np.float64)
    tolerance = AXIS_TOLERANCE * max(abs(ref[1]), abs(ref[2]))

    def batch(start: int, stop: int) -> dict[int, object]:
        # Rows 1 + start .. 1 + stop hold paths[index + 1 + start ...].
        details: dict[int, object] = _native.fill_spectra(
            paths[index + 1 + start:index + 1 + stop], fill.candidates, fill.out, 1 + start, fill.block is None, meta)
        return details

    size = max(1, min(256, math.ceil(rest / (workers * 8))))
    spans = [(s, min(s + size, rest)) for s in range(0, rest, size)]
    executor = ThreadPoolExecutor(workers) if workers > 1 else None
    try:
        futures = [executor.submit(batch, *span) for span in spans] if executor is not None else []
        for n, (start, stop) in enumerate(spans):
            details = futures[n].result() if executor is not None else batch(start, stop)
            m = meta[1 + start:1 + stop]
            ok = ((m[:, 0] == OK) & (m[:, 2] == ref[0]) & (np.abs(m[:, 3] - ref[1]) <= tolerance)
                  & (np.abs(m[:, 4] - ref[2]) <= tolerance))
            fill.good[1 + start:1 + stop] = ok
            fill.block_index[1 + start:1 + stop] = m[:, 1]
            for j in np.flatnonzero(~ok):
                _settle(fill, 1 + start + int(j), m[j], details.get(int(j)), ref, tolerance)
            bar.advance(stop - start)
    finally:
        if executor is not None:
            executor.shutdown(wait=True, cancel_futures=True)


def _settle(fill: Fill, row: int, m: FloatArray, detail: object, ref: tuple[int, float, float],
            tolerance: float) -> None:
    """A file the array check did not pass: a reason, or a second look through the public API."""
    index = fill.first + row
    status, npt_, fxv, lxv = int(m[0]), int(m[2]), float(m[3]), float(m[4])
    if status in (OK, WIDTH):
        fill.fail(index, axis_error(npt_, fxv, lxv, ref))
    elif status == ERROR:
        assert isinstance(detail, BaseException)
        fill.fail(index, detail)
    elif status == NO_BLOCK:
        fill.fail(index, no_block_error())
    elif status == SHORT:
        assert isinstance(detail, int)
        fill.fail(index, short_error(detail, npt_))
    else:  # REDO: the public API decides what this file gives
        try:
            block, result = read_single(fill.paths[index], fill.block)
            params = result.parameters
            fxv, lxv, n = float(params["FXV"]), float(params["LXV"]), len(result.y)
            if n != ref[0] or abs(fxv - ref[1]) > tolerance or abs(lxv - ref[2]) > tolerance:
                raise axis_error(n, fxv, lxv, ref)
        except Exception as error:  # noqa: BLE001
            fill.fail(index, error)
            return
        fill.take(row, block, result.y)


def fill_interpolated(fill: Fill, target: FloatArray, workers: int, bar: Progress) -> None:
    """Every spectrum linearly interpolated onto `target` (NaN outside the file's own range)."""
    fill.x = target
    fill.allocate(0, target.size)

    def one(row: int) -> tuple[Triple, None] | tuple[None, Exception]:
        try:
            block, result = read_single(fill.paths[row], fill.block)
        except Exception as error:  # noqa: BLE001
            return None, error
        x = np.asarray(result.x, dtype=np.float64)
        y = np.asarray(result.y, dtype=np.float64)
        if x.size > 1 and x[0] > x[-1]:
            x, y = x[::-1], y[::-1]
        fill.out[row] = np.interp(target, x, y, left=np.nan, right=np.nan)
        return block, None

    with ThreadPoolExecutor(workers) as executor:
        for row, (block, error) in enumerate(executor.map(one, range(len(fill.paths)))):
            if block is not None:
                fill.good[row] = True
                fill.block_index[row] = fill.candidates.index(block)
            else:
                assert error is not None
                fill.fail(row, error)
            bar.advance()


def check_block(block: str | Sequence[str]) -> Triple | None:
    """None for "auto", else the upper-cased 2D triple; ValueError for anything else."""
    if isinstance(block, str):
        if block != "auto":
            raise ValueError(f"block must be 'auto' or a (type, dimensions, derivative) triple, not {block!r}")
        return None
    if len(block) != 3 or not all(isinstance(b, str) for b in block):
        raise ValueError(f"block must be 'auto' or a (type, dimensions, derivative) triple, not {block!r}")
    chosen = (block[0].upper(), block[1].upper(), block[2].upper())
    if chosen[1] != "2D":
        raise ValueError(f"a collection holds single spectra: {' '.join(chosen)} is not a 2D block")
    if chosen not in ranked_blocks(("2D",)):
        raise ValueError(f"{' '.join(chosen)} is not a block getOpusData reads")
    return chosen
