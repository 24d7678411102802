"""Many single-spectrum files read into one matrix.

>>> from kestrel_tools import DEMO_FILE, read_collection
>>> c = read_collection([DEMO_FILE, DEMO_FILE.with_name("missing.0")])
>>> c.spectra.shape, c.blocks, c.failed[0][1].split(":")[0]
((1, 1800), [('AB', '2D', 'NONE')], 'FileNotFoundError')

How it reads: the first readable file sets the row width; the matrix is
allocated once and the other files are read straight into their rows by the
native module on a thread pool, the GIL released for each batch of files. Then
the collection takes the kind of spectrum most files share (what the values
are and the x unit) and, unless asked to interpolate, the x axis most of those
files share; files of another width are read again only when they are taken.
A file that fails or is left out keeps its path and reason in `failed`; the
matrix holds every file taken, in input order.

`info` (a FileInfo per row) is computed on first access, not while reading:
building the parameter dicts of thousands of files costs more than reading their
spectra, and many uses never need it.
"""

from __future__ import annotations

import os
from collections.abc import Iterable, Sequence
from typing import TYPE_CHECKING, Literal

import numpy as np
import numpy.typing as npt

from kestrel_tools._collection_choice import Choice, Excluded, choose
from kestrel_tools._collection_fill import HELD, OK, OnError, Survey, read_rows, survey
from kestrel_tools._collection_grid import common_grid, interpolate, same_axis
from kestrel_tools.byte_sources import StorageOptions, source_name
from kestrel_tools.metadata import FileInfo, Triple, file_info, ranked_blocks
from kestrel_tools.progress import Progress, ProgressArg
from kestrel_tools.sources import PathArg, find_files
from kestrel_tools.tables import collection_frame
from kestrel_tools.xarray_backend.convert import collection_array

if TYPE_CHECKING:
    import pandas
    import xarray

__all__ = ["Collection", "Excluded", "read_collection"]

FloatArray = npt.NDArray[np.float64]
Matrix = npt.NDArray[np.float32]


class Collection:
    """Single spectra of many files: one row of `spectra` per file read.

    Attributes:
        x: the common x axis (n_points,), float64.
        spectra: (n_files_read, n_points) float32, C order, one allocation.
        files: the path of each row, in input order.
        blocks: the block read from each row's file.
        failed: (path, "ExceptionType: message") for each file not read or
            left out.
        y_kind, x_unit: what the values are ("absorbance") and the x unit
            ("cm-1") of every row; None when nothing was read.
        excluded: the readable files left out for their kind or axis, with
            what they hold (a command words its advice from these).
        passed_over: entries of the folders read that are not regular files
            (FIFOs, devices, ...), not read.
        x_ranges: (n_files_read, 2) float64, the first and last x of each
            row's own axis (on an interpolated collection, where each row has
            values: NaN outside it).
        info: a FileInfo per row, read on first access.
    """

    def __init__(self, x: FloatArray, spectra: npt.NDArray[np.float32], files: list[str], blocks: list[Triple],
                 failed: list[tuple[str, str]], info: list[FileInfo] | None = None, *,
                 y_kind: str | None = None, x_unit: str | None = None, excluded: list[Excluded] | None = None,
                 passed_over: list[str] | None = None, x_ranges: FloatArray | None = None,
                 storage_options: StorageOptions = None) -> None:
        self.x = x
        self.spectra = spectra
        self.files = files
        self.blocks = blocks
        self.failed = failed
        self.y_kind = y_kind
        self.x_unit = x_unit
        self.excluded = excluded or []
        self.passed_over = passed_over or []
        self.x_ranges = (np.asarray(x_ranges, dtype=np.float64).reshape(-1, 2) if x_ranges is not None
                         else np.tile(x[[0, -1]] if x.size else np.full(2, np.nan), (len(files), 1)))
        self._info = info
        self._storage_options = storage_options  # for the URLs `info` reads again

    @property
    def info(self) -> list[FileInfo]:
        """A FileInfo per row (read from the files on first access)."""
        if self._info is None:
            self._info = [file_info(path, block, storage_options=self._storage_options)
                          for path, block in zip(self.files, self.blocks)]
        return self._info

    def __len__(self) -> int:
        return len(self.files)

    def __repr__(self) -> str:
        return f"<Collection of {len(self.files)} spectra x {self.x.size} points, {len(self.failed)} failed>"

    def to_pandas(self, layout: Literal["wide", "long"] | None = None) -> pandas.DataFrame:
        """One row per file: ``file``, the metadata columns (FileInfo.as_dict()
        without the path), then one column per x value; layout="long" gives one
        row per value (see kestrel_tools.tables)."""
        return collection_frame(self, layout)

    def to_xarray(self) -> xarray.DataArray:
        """A DataArray of dims ("file", the spectral axis), the metadata as coordinates along "file".

        The spectral axis is named from the x unit (DXU) as in ``to_xarray`` of
        a result: "wavenumber", "wavelength", ..., "abscissa" when unknown.
        """
        return collection_array(self)


def read_collection(sources: PathArg | Iterable[PathArg], block: str | Sequence[str] = "auto", *,
                    recursive: bool = False, axis: Literal["same", "common"] | npt.ArrayLike = "same",
                    workers: int | None = None, progress: ProgressArg = False,
                    on_error: OnError = "collect", storage_options: StorageOptions = None) -> Collection:
    """Reads the single spectrum of every file into one matrix.

    Args:
        sources: a folder, a glob pattern, or an iterable of paths (see
            find_files: a folder gives its regular files only). An item may
            also be a file's bytes, a binary file object or a URL
            ("s3://...", "https://...", read through fsspec with
            `storage_options`).
        block: "auto" takes each file's primary 2D block (the primary-block
            rule of kestrel_tools.metadata among the 2D blocks: a collection
            holds one spectrum per file), or a triple such as
            ("AB", "2D", "NONE") or its text "AB 2D NONE". Either way the collection holds one kind of
            spectrum, the one most files share (what the values are and the x
            unit; a tie goes to the kind that ranks first by the primary-block
            rule): a file of another kind is left out, its reason saying what
            it holds and which block collects it. A file whose only spectra
            are maps or series is not read: xarray.open_mfdataset with the
            "kestrel" engine stacks maps along a file dimension.
        recursive: look into subfolders of a folder too.
        axis: "same": the x axis most files share (same number of points,
            ends within 1e-9 relative; a tie goes to the axis met first); a
            file on another axis is left out, its reason naming both axes.
            "common": every spectrum linearly interpolated onto the range
            every file covers, at the finest spacing among them. A 1-D array:
            every spectrum interpolated onto it (NaN outside the file's own
            range). A file whose axis ends are not finite is never taken.
        workers: threads reading files (default: the CPU count, at most 8).
        progress: True for a bar on stderr, or a callable(done, total).
        on_error: "collect" puts each failed or left-out file in `failed`;
            "raise" raises the first of them in input order (the exception
            getOpusData raised, with a note naming the file); "skip" drops
            them silently.

    Raises ValueError for arguments it cannot use, and when asked for the
    common grid of files that share no x range.

    Example:

    >>> from kestrel_tools import DEMO_FILE
    >>> c = read_collection([DEMO_FILE] * 3, progress=lambda done, total: None)
    >>> c.spectra.shape, c.spectra.flags.c_contiguous, len(c.files), c.y_kind, c.x_unit
    ((3, 1800), True, 3, 'absorbance', 'cm-1')
    """
    if on_error not in ("collect", "raise", "skip"):
        raise ValueError(f"on_error must be 'collect', 'raise' or 'skip', not {on_error!r}")
    chosen = check_block(block)
    target = None
    if not isinstance(axis, str):
        target = np.asarray(axis, dtype=np.float64)
        if target.ndim != 1:
            raise ValueError(f"axis must be 'same', 'common' or a 1-D array, not an array of shape {target.shape}")
    elif axis not in ("same", "common"):
        raise ValueError(f"axis must be 'same', 'common' or a 1-D array, not {axis!r}")
    workers = max(1, workers if workers is not None else min(8, os.cpu_count() or 1))
    found_files = find_files(sources, recursive=recursive)
    with Progress(progress, total=len(found_files.paths), label="reading") as bar:
        found = survey(found_files.paths, chosen, workers, bar, storage_options)
    same = target is None and axis == "same"
    choice = choose(found, "same" if same else "interpolate")
    if same:
        x, spectra, members = _on_shared_axis(found, choice, workers)
    else:
        if target is None:
            m = choice.members
            target = (common_grid([found.paths[i] for i in m], found.meta[m, 2], found.meta[m, 3],
                                  found.meta[m, 4], choice.kind[1] if choice.kind else None)
                      if m.size else np.empty(0))
        x = target
        spectra, members = _interpolated(found, choice, target, workers)
    if on_error == "raise" and found.failures:
        first = min(found.failures)
        error = found.failures[first]
        error.add_note(f"while reading {source_name(found.paths[first])} into a collection")
        raise error
    failed = [] if on_error == "skip" else [(source_name(found.paths[i]), _reason(found.failures[i]))
                                           for i in sorted(found.failures)]
    kind = choice.kind if members else None
    return Collection(x, spectra, [found.paths[i] for i in members], [found.block_of(i) for i in members], failed,
                      y_kind=kind[0] if kind else None, x_unit=kind[1] if kind else None,
                      excluded=choice.excluded, passed_over=found_files.passed_over,
                      x_ranges=found.meta[np.asarray(members, dtype=np.int64)][:, 3:5], storage_options=storage_options)


def _reason(error: BaseException) -> str:
    """How a failure reads in Collection.failed."""
    return f"{type(error).__name__}: {error}"


def _on_shared_axis(found: Survey, choice: Choice, workers: int) -> tuple[FloatArray, Matrix, list[int]]:
    """The matrix of the files on the chosen axis, in input order."""
    if choice.axis is None:
        return np.empty(0), np.empty((0, 0), np.float32), []
    members = [int(i) for i in choice.members]
    first = found.meta[members[0]]
    x = np.linspace(first[3], first[4], int(first[2]))
    width = choice.axis[0]
    if found.out.shape[1] != width:
        matrix, lost = read_rows(found, members, width, workers)
        keep = [k for k, i in enumerate(members) if i not in lost]
        return x, _compact(matrix, np.asarray(keep, dtype=np.int64)), [members[k] for k in keep]
    for i in members:
        if i in found.held:
            found.out[i] = found.held[i].y
    return x, _compact(found.out, np.asarray(members, dtype=np.int64)), members


def _compact(out: Matrix, keep: npt.NDArray[np.int64]) -> Matrix:
    """The rows `keep` (ascending) moved up over the others, in place; the array shrunk to them."""
    if keep.size == out.shape[0]:
        return out
    # Runs of consecutive rows move as one slice each.
    breaks = np.flatnonzero(np.diff(keep) != 1) + 1
    dst = 0
    for run in np.split(keep, breaks):
        if run.size:
            if run[0] != dst:
                out[dst:dst + run.size] = out[run[0]:run[-1] + 1]
            dst += run.size
    try:
        out.resize((keep.size, out.shape[1]), refcheck=False)  # the array is ours alone
    except ValueError:
        out = np.ascontiguousarray(out[: keep.size])
    return out


def _interpolated(found: Survey, choice: Choice, target: FloatArray, workers: int) -> tuple[Matrix, list[int]]:
    """The chosen files interpolated onto `target`, in input order."""
    members = [int(i) for i in choice.members]
    meta = found.meta
    # Where each file's values are: a row of the first pass, a held result, or a
    # matrix read now for the files of another width.
    sources: dict[int, tuple[Matrix, int]] = {}
    others: dict[int, list[int]] = {}
    for i in members:
        if meta[i, 0] == OK:
            sources[i] = (found.out, i)
        elif meta[i, 0] == HELD:
            sources[i] = (np.asarray(found.held[i].y, dtype=np.float32).reshape(1, -1), 0)
        else:
            others.setdefault(int(meta[i, 2]), []).append(i)
    for width, indices in others.items():
        matrix, lost = read_rows(found, indices, width, workers)
        for k, i in enumerate(indices):
            if i not in lost:
                sources[i] = (matrix, k)
    members = [i for i in members if i in sources]
    # One set of weights per (values, axis): all the rows of the first pass on one axis at once.
    groups: dict[tuple[int, float, float, int], list[int]] = {}
    for row, i in enumerate(members):
        groups.setdefault((int(meta[i, 2]), float(meta[i, 3]), float(meta[i, 4]), id(sources[i][0])), []).append(row)
    if len(groups) == 1:
        (n, fxv, lxv, _), = groups
        if sources[members[0]][0] is found.out and same_axis(np.linspace(fxv, lxv, n), target):
            # Every file is on the grid already: the first pass's matrix is the answer.
            return _compact(found.out, np.asarray(members, dtype=np.int64)), members
    out = np.empty((len(members), target.size), dtype=np.float32)
    for (n, fxv, lxv, _), rows in groups.items():
        values = sources[members[rows[0]]][0]
        taken = np.array([sources[members[r]][1] for r in rows], dtype=np.int64)
        x = np.linspace(fxv, lxv, n)
        if same_axis(x, target):
            out[rows] = values[taken]
        else:
            interpolate(values, taken, x, target, out, np.asarray(rows, dtype=np.int64), workers)
    return out, members


def check_block(block: str | Sequence[str]) -> Triple | None:
    """None for "auto", else the upper-cased 2D triple; ValueError for anything else.

    The block may also be written as a collection's ``block`` column writes it:

    >>> check_block("ab 2D NONE")
    ('AB', '2D', 'NONE')
    """
    if isinstance(block, str):
        if block == "auto":
            return None
        if len(block.split()) != 3:
            raise ValueError(f"block must be 'auto', a (type, dimensions, derivative) triple or its text "
                             f"('AB 2D NONE'), not {block!r}")
        block = block.split()
    if len(block) != 3 or not all(isinstance(b, str) for b in block):
        raise ValueError(f"block must be 'auto' or a (type, dimensions, derivative) triple, not {block!r}")
    chosen = (block[0].upper(), block[1].upper(), block[2].upper())
    if chosen[1] != "2D":
        raise ValueError(f"a collection holds single spectra: {' '.join(chosen)} is not a 2D block; "
                         "xarray.open_mfdataset(paths, engine='kestrel') stacks maps and series")
    if chosen not in ranked_blocks(("2D",)):
        raise ValueError(f"{' '.join(chosen)} is not a block getOpusData reads")
    return chosen
