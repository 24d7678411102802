"""Many single-spectrum files read into one matrix.

>>> from kestrel_tools import DEMO_FILE, read_collection
>>> c = read_collection([DEMO_FILE, DEMO_FILE.with_name("missing.0")])
>>> c.spectra.shape, c.blocks, c.failed[0][1]
((1, 200), [('AB', '2D', 'NONE')], "FileNotFoundError: [Errno 2] No such file or directory: '...missing.0'")

How it reads: the first readable file fixes the x axis and the row width; the
matrix is then allocated once and the other files are read straight into their
rows by the native module on a thread pool, the GIL released for each batch of
files. A file that fails keeps its path and reason in `failed`; the matrix holds
every good file, in input order.

`info` (a FileInfo per row) is computed on first access, not while reading:
building the parameter dicts of thousands of files costs more than reading their
spectra, and many uses never need it.
"""

from __future__ import annotations

import math
import os
from datetime import datetime, timezone
from collections.abc import Iterable, Sequence
from concurrent.futures import Future, ThreadPoolExecutor
from typing import TYPE_CHECKING, Any, Literal

import numpy as np
import numpy.typing as npt

import kestrel
from kestrel_tools import _native
from kestrel_tools.metadata import FileInfo, Triple, file_info, primary_block, ranked_blocks
from kestrel_tools.progress import Progress, ProgressArg
from kestrel_tools.sources import PathArg, expand_sources

if TYPE_CHECKING:
    import pandas
    import xarray

__all__ = ["Collection", "read_collection"]

OnError = Literal["collect", "raise", "skip"]
FloatArray = npt.NDArray[np.float64]

# Axes agree when their ends differ by no more than this, relative to the larger end.
AXIS_TOLERANCE = 1e-9


class Collection:
    """Single spectra of many files: one row of `spectra` per file read.

    Attributes:
        x: the common x axis (n_points,), float64.
        spectra: (n_files_read, n_points) float32, C order, one allocation.
        files: the path of each row, in input order.
        blocks: the block read from each row's file.
        failed: (path, "ExceptionType: message") for each file not read.
        info: a FileInfo per row, read on first access.
    """

    def __init__(self, x: FloatArray, spectra: npt.NDArray[np.float32], files: list[str], blocks: list[Triple],
                 failed: list[tuple[str, str]], info: list[FileInfo] | None = None) -> None:
        self.x = x
        self.spectra = spectra
        self.files = files
        self.blocks = blocks
        self.failed = failed
        self._info = info

    @property
    def info(self) -> list[FileInfo]:
        """A FileInfo per row (read from the files on first access)."""
        if self._info is None:
            self._info = [file_info(path, block) for path, block in zip(self.files, self.blocks)]
        return self._info

    def __len__(self) -> int:
        return len(self.files)

    def __repr__(self) -> str:
        return f"<Collection of {len(self.files)} spectra x {self.x.size} points, {len(self.failed)} failed>"

    def to_pandas(self) -> pandas.DataFrame:
        """One row per file: the metadata columns (FileInfo.as_dict()), then one column per x value."""
        from kestrel_tools.tables import collection_frame

        return collection_frame(self)

    def to_xarray(self) -> xarray.DataArray:
        """A DataArray of dims ("file", the x unit's name), the metadata as coordinates along "file"."""
        from kestrel_tools._optional import require

        xr = require("xarray", "xarray")
        info = self.info
        x_unit = info[0].x_unit if info else None
        x_name = _X_DIMS.get(x_unit or "", "x")
        coords: dict[str, Any] = {"file": list(self.files), x_name: (x_name, self.x, {"units": x_unit or ""})}
        rows = [i.as_dict() for i in info]
        for key in rows[0] if rows else ():
            if key != "path":
                coords[key] = ("file", _coordinate([row[key] for row in rows]))
        data: xarray.DataArray = xr.DataArray(self.spectra, dims=("file", x_name), coords=coords)
        return data


# The dimension of a collection's x axis, by its unit.
_X_DIMS = {
    "cm-1": "wavenumber", "log(cm-1)": "log_wavenumber", "um": "wavelength", "nm": "wavelength",
    "points": "point", "s": "time", "ms": "time", "min": "time", "Hz": "frequency",
}


def _coordinate(values: list[Any]) -> npt.NDArray[Any]:
    """A metadata column as an array netCDF can hold: missing text is "", a missing number NaN."""
    present = [v for v in values if v is not None]
    if present and all(isinstance(v, datetime) for v in present):
        # datetime64 has no zone: UTC, the one reading every offset agrees on.
        return np.array([np.datetime64(v.astimezone(timezone.utc).replace(tzinfo=None), "us") if v is not None
                         else np.datetime64("NaT", "us") for v in values])
    if present and all(isinstance(v, (int, float)) for v in present):
        if len(present) == len(values) and all(isinstance(v, int) for v in present):
            return np.array(values, dtype=np.int64)
        return np.array([np.nan if v is None else float(v) for v in values], dtype=np.float64)
    return np.array(["" if v is None else str(v) for v in values], dtype=str)


# ----------------------------------------------------------------- reading


class _Outcome:
    """What became of one file: a row, or a reason."""

    __slots__ = ("block", "reason", "error")

    def __init__(self, block: Triple | None = None, reason: str | None = None,
                 error: BaseException | None = None) -> None:
        self.block, self.reason, self.error = block, reason, error


def _reason(error: BaseException) -> str:
    return f"{type(error).__name__}: {error}"


def _no_block_error() -> ValueError:
    return ValueError("the file holds no 2D data block that can be read")


def _axis_error(npt_: int, fxv: float, lxv: float, ref: tuple[int, float, float]) -> ValueError:
    return ValueError(f"x axis differs from the first file's: {npt_} points from {fxv!r} to {lxv!r}, "
                      f"not {ref[0]} points from {ref[1]!r} to {ref[2]!r}")


def _short_error(got: int, npt_: int) -> ValueError:
    return ValueError(f"the data block ends after {got} of {npt_} values (the file is cut short)")


def _same_axis(npt_: int, fxv: float, lxv: float, ref: tuple[int, float, float]) -> bool:
    tolerance = AXIS_TOLERANCE * max(abs(ref[1]), abs(ref[2]))
    return npt_ == ref[0] and abs(fxv - ref[1]) <= tolerance and abs(lxv - ref[2]) <= tolerance


def _read_single(path: str, block: Triple | None) -> tuple[Triple, Any]:
    """One file through the public API: (block, SingleDataReturn). Raises what it raises."""
    if block is None:
        listing = [b for b in kestrel.listContents(path) if b[1] == "2D"]
        try:
            block = primary_block(path, blocks=listing)
        except ValueError:
            raise _no_block_error() from None
    result = kestrel.getOpusData(path, block)
    npt_ = result.parameters["NPT"]
    if len(result.y) < npt_:
        raise _short_error(len(result.y), npt_)
    return block, result


class _Reader:
    """Shared state of one read_collection call."""

    def __init__(self, block: Triple | None, on_error: OnError) -> None:
        self.block = block
        self.candidates: list[Triple] = ranked_blocks(("2D",)) if block is None else [block]
        self.on_error = on_error

    def fail(self, path: str, error: BaseException) -> _Outcome:
        if self.on_error == "raise":
            error.add_note(f"while reading {path} into a collection")
            raise error
        return _Outcome(reason=_reason(error), error=error)


def _fill_same_axis(reader: _Reader, paths: list[str], workers: int, bar: Progress,
                    ) -> tuple[FloatArray, npt.NDArray[np.float32], list[_Outcome]]:
    outcomes: list[_Outcome] = []
    # The first readable file fixes the axis and the row width.
    first = None
    for index, path in enumerate(paths):
        try:
            first = (index, *_read_single(path, reader.block))
        except Exception as error:  # noqa: BLE001 - every failure of a file is that file's
            outcomes.append(reader.fail(path, error))
        bar.advance()
        if first is not None:
            break
    if first is None:
        return np.empty(0), np.empty((0, 0), np.float32), outcomes
    index, block, result = first
    x = np.asarray(result.x, dtype=np.float64)
    ref = (int(result.parameters["NPT"]), float(result.parameters["FXV"]), float(result.parameters["LXV"]))
    rest = paths[index + 1:]
    out = np.empty((1 + len(rest), x.size), dtype=np.float32)
    out[0] = result.y[: x.size]
    outcomes.append(_Outcome(block=block))

    def batch(start: int, chunk: list[str]) -> list[tuple[str, int, int, float, float, object]]:
        statuses: list[tuple[str, int, int, float, float, object]] = _native.fill_spectra(
            chunk, reader.candidates, out, 1 + start, reader.block is None)
        return statuses

    size = max(1, min(256, math.ceil(len(rest) / (workers * 8)))) if rest else 1
    starts = range(0, len(rest), size)
    executor = ThreadPoolExecutor(workers) if workers > 1 else None
    try:
        if executor is not None:
            futures: list[Future[list[tuple[str, int, int, float, float, object]]]] = [
                executor.submit(batch, s, rest[s:s + size]) for s in starts]
        for n, start in enumerate(starts):
            statuses = futures[n].result() if executor is not None else batch(start, rest[start:start + size])
            for offset, status in enumerate(statuses):
                path = rest[start + offset]
                row = 1 + start + offset
                outcomes.append(_settle(reader, path, status, out, row, ref))
            bar.advance(len(statuses))
    finally:
        if executor is not None:
            executor.shutdown(wait=True, cancel_futures=True)
    return x, out, outcomes


def _settle(reader: _Reader, path: str, status: tuple[str, int, int, float, float, object],
            out: npt.NDArray[np.float32], row: int, ref: tuple[int, float, float]) -> _Outcome:
    """Turns one file's native status into a row or a failure."""
    kind, block_index, npt_, fxv, lxv, detail = status
    block = reader.candidates[block_index] if block_index >= 0 else None
    if kind == "ok" or kind == "width":
        if _same_axis(npt_, fxv, lxv, ref):
            return _Outcome(block=block)
        return reader.fail(path, _axis_error(npt_, fxv, lxv, ref))
    if kind == "error":
        assert isinstance(detail, BaseException)
        return reader.fail(path, detail)
    if kind == "no_block":
        return reader.fail(path, _no_block_error())
    if kind == "short":
        assert isinstance(detail, int)
        return reader.fail(path, _short_error(detail, npt_))
    # "redo": the public API decides what this file gives.
    try:
        block, result = _read_single(path, reader.block)
        params = result.parameters
        if not _same_axis(len(result.y), float(params["FXV"]), float(params["LXV"]), ref):
            raise _axis_error(len(result.y), float(params["FXV"]), float(params["LXV"]), ref)
        out[row] = result.y
        return _Outcome(block=block)
    except Exception as error:  # noqa: BLE001
        return reader.fail(path, error)


def _fill_interpolated(reader: _Reader, paths: list[str], target: FloatArray, workers: int, bar: Progress,
                       ) -> tuple[FloatArray, npt.NDArray[np.float32], list[_Outcome]]:
    out = np.empty((len(paths), target.size), dtype=np.float32)

    def one(row: int) -> _Outcome:
        path = paths[row]
        try:
            block, result = _read_single(path, reader.block)
        except Exception as error:  # noqa: BLE001
            return _Outcome(reason=_reason(error), error=error)
        x = np.asarray(result.x, dtype=np.float64)
        y = np.asarray(result.y, dtype=np.float64)
        if x.size > 1 and x[0] > x[-1]:
            x, y = x[::-1], y[::-1]
        # No extrapolation: outside the file's own range the row holds NaN.
        out[row] = np.interp(target, x, y, left=np.nan, right=np.nan)
        return _Outcome(block=block)

    outcomes: list[_Outcome] = []
    with ThreadPoolExecutor(workers) as executor:
        for outcome, path in zip(executor.map(one, range(len(paths))), paths):
            if outcome.error is not None:
                outcome = reader.fail(path, outcome.error)
            outcomes.append(outcome)
            bar.advance()
    return target, out, outcomes


def _compact(out: npt.NDArray[np.float32], outcomes: Sequence[_Outcome]) -> npt.NDArray[np.float32]:
    """Moves the good rows up over the failed ones, in place, and drops the tail."""
    good = [i for i, o in enumerate(outcomes) if o.block is not None]
    if len(good) == out.shape[0]:
        return out
    for dst, src in enumerate(good):
        if dst != src:
            out[dst] = out[src]
    try:
        out.resize((len(good), out.shape[1]), refcheck=False)  # the array is ours alone
        return out
    except ValueError:
        return np.ascontiguousarray(out[: len(good)])


def read_collection(sources: PathArg | Iterable[PathArg], block: str | Sequence[str] = "auto", *,
                    recursive: bool = False, axis: Literal["same"] | npt.ArrayLike = "same",
                    workers: int | None = None, progress: ProgressArg = False,
                    on_error: OnError = "collect") -> Collection:
    """Reads the single spectrum of every file into one matrix.

    sources: a folder, a glob pattern, or an iterable of paths (see expand_sources).
    block: "auto" takes each file's primary 2D block (the primary-block rule of
        kestrel_tools.metadata among the 2D blocks: a collection holds one
        spectrum per file), or a triple such as ("AB", "2D", "NONE").
    axis: "same": every file must have the first readable file's x axis (same
        number of points, ends within 1e-9 relative); a file that differs fails.
        A 1-D array: every spectrum is linearly interpolated onto it (NaN outside
        the file's own range).
    workers: threads reading files (default: the CPU count, at most 8).
    progress: True for a bar on stderr, or a callable(done, total).
    on_error: "collect" puts each failed file in `failed`; "raise" raises the
        first failure in input order (the exception getOpusData raised, with a
        note naming the file); "skip" drops failed files silently.

    >>> from kestrel_tools import DEMO_FILE
    >>> c = read_collection([DEMO_FILE] * 3, progress=lambda done, total: None)
    >>> c.spectra.shape, c.spectra.flags.c_contiguous, len(c.files)
    ((3, 200), True, 3)
    """
    if on_error not in ("collect", "raise", "skip"):
        raise ValueError(f"on_error must be 'collect', 'raise' or 'skip', not {on_error!r}")
    if isinstance(block, str):
        if block != "auto":
            raise ValueError(f"block must be 'auto' or a (type, dimensions, derivative) triple, not {block!r}")
        chosen: Triple | None = None
    else:
        if len(block) != 3 or not all(isinstance(b, str) for b in block):
            raise ValueError(f"block must be 'auto' or a (type, dimensions, derivative) triple, not {block!r}")
        chosen = (block[0].upper(), block[1].upper(), block[2].upper())
        if chosen[1] != "2D":
            raise ValueError(f"a collection holds single spectra: {' '.join(chosen)} is not a 2D block")
        if chosen not in ranked_blocks(("2D",)):
            raise ValueError(f"{' '.join(chosen)} is not a block getOpusData reads")
    workers = max(1, workers if workers is not None else min(8, os.cpu_count() or 1))
    paths = expand_sources(sources, recursive=recursive)
    reader = _Reader(chosen, on_error)
    with Progress(progress, total=len(paths), label="reading") as bar:
        if isinstance(axis, str):
            if axis != "same":
                raise ValueError(f"axis must be 'same' or a 1-D array, not {axis!r}")
            x, out, outcomes = _fill_same_axis(reader, paths, workers, bar)
        else:
            target = np.asarray(axis, dtype=np.float64)
            if target.ndim != 1:
                raise ValueError(f"axis must be 'same' or a 1-D array, not an array of shape {target.shape}")
            x, out, outcomes = _fill_interpolated(reader, paths, target, workers, bar)
    rows = _rows_of(outcomes, out.shape[0])
    spectra = _compact(out, [outcomes[i] for i in rows])
    files = [paths[i] for i, o in enumerate(outcomes) if o.block is not None]
    blocks: list[Triple] = [o.block for o in outcomes if o.block is not None]
    failed = [] if on_error == "skip" else [(paths[i], o.reason or "") for i, o in enumerate(outcomes)
                                            if o.block is None]
    return Collection(x, spectra, files, blocks, failed)


def _rows_of(outcomes: Sequence[_Outcome], n_rows: int) -> list[int]:
    """The outcomes that own a row of the matrix: the last n_rows of them.

    Files that failed before the first readable file were never given a row."""
    return list(range(len(outcomes) - n_rows, len(outcomes)))
