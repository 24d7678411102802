"""Many single-spectrum files read into one matrix.

>>> from kestrel_tools import DEMO_FILE, read_collection
>>> c = read_collection([DEMO_FILE, DEMO_FILE.with_name("missing.0")])
>>> c.spectra.shape, c.blocks, c.failed[0][1].split(":")[0]
((1, 1800), [('AB', '2D', 'NONE')], 'FileNotFoundError')

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

import os
from collections.abc import Iterable, Sequence
from typing import TYPE_CHECKING, Any, Literal

import numpy as np
import numpy.typing as npt

from kestrel_tools._collection_fill import Fill, OnError, check_block, fill_interpolated, fill_same_axis
from kestrel_tools.metadata import FileInfo, Triple, file_info
from kestrel_tools.progress import Progress, ProgressArg
from kestrel_tools.sources import PathArg, expand_sources
from kestrel_tools.tables import collection_frame
from kestrel_tools.xarray_backend.convert import collection_array

if TYPE_CHECKING:
    import pandas
    import xarray

__all__ = ["Collection", "read_collection"]

FloatArray = npt.NDArray[np.float64]


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
                    recursive: bool = False, axis: Literal["same"] | npt.ArrayLike = "same",
                    workers: int | None = None, progress: ProgressArg = False,
                    on_error: OnError = "collect") -> Collection:
    """Reads the single spectrum of every file into one matrix.

    Args:
        sources: a folder, a glob pattern, or an iterable of paths (see
            expand_sources).
        block: "auto" takes each file's primary 2D block (the primary-block
            rule of kestrel_tools.metadata among the 2D blocks: a collection
            holds one spectrum per file), or a triple such as
            ("AB", "2D", "NONE").
        recursive: look into subfolders of a folder too.
        axis: "same": every file must have the first readable file's x axis
            (same number of points, ends within 1e-9 relative); a file that
            differs fails. A 1-D array: every spectrum is linearly
            interpolated onto it (NaN outside the file's own range).
        workers: threads reading files (default: the CPU count, at most 8).
        progress: True for a bar on stderr, or a callable(done, total).
        on_error: "collect" puts each failed file in `failed`; "raise" raises
            the first failure in input order (the exception getOpusData
            raised, with a note naming the file); "skip" drops failed files
            silently.

    Example:

    >>> from kestrel_tools import DEMO_FILE
    >>> c = read_collection([DEMO_FILE] * 3, progress=lambda done, total: None)
    >>> c.spectra.shape, c.spectra.flags.c_contiguous, len(c.files)
    ((3, 1800), True, 3)
    """
    if on_error not in ("collect", "raise", "skip"):
        raise ValueError(f"on_error must be 'collect', 'raise' or 'skip', not {on_error!r}")
    chosen = check_block(block)
    target = None
    if not isinstance(axis, str):
        target = np.asarray(axis, dtype=np.float64)
        if target.ndim != 1:
            raise ValueError(f"axis must be 'same' or a 1-D array, not an array of shape {target.shape}")
    elif axis != "same":
        raise ValueError(f"axis must be 'same' or a 1-D array, not {axis!r}")
    workers = max(1, workers if workers is not None else min(8, os.cpu_count() or 1))
    fill = Fill(expand_sources(sources, recursive=recursive), chosen, on_error)
    with Progress(progress, total=len(fill.paths), label="reading") as bar:
        if target is None:
            fill_same_axis(fill, workers, bar)
        else:
            fill_interpolated(fill, target, workers, bar)
    failed = [] if on_error == "skip" else fill.failed()
    return Collection(fill.x, fill.spectra(), fill.files(), fill.blocks(), failed)
