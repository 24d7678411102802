"""open_dataset: a block of an OPUS file as a lazy xarray Dataset."""

from __future__ import annotations

import os
from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any

from kestrel_tools import _windows
from kestrel_tools._optional import require
from kestrel_tools.xarray_backend.labels import labels_of
from kestrel_tools.byte_sources import Source, StorageOptions, source_name, whole_bytes
from kestrel_tools.xarray_backend.source import acquisition, naming_file, resolve_block, source_of

if TYPE_CHECKING:
    import xarray

FILE_ATTRS = ("block", "source", "acquired", "acquired_from")
# The scalar coordinate naming the file, which open_mfdataset stacks along its files.
FILE_COORD = "file"


def open_dataset(path: Source, block: str | Sequence[str] = "auto", *,
                 chunks: int | str | Mapping[str, Any] | None = None,
                 storage_options: StorageOptions = None) -> xarray.Dataset:
    """One block of the file at `path` as a Dataset whose data are read lazily.

    `path` may also be the file's bytes, a binary file object, or a URL
    ("s3://...", "https://...") opened through fsspec with `storage_options`:
    each window is then fetched as its own byte ranges.

    Indexing the data variable ("spectrum", "spectra" or "traces") reads only
    the window it needs; with `chunks` (anything ``xarray.open_dataset`` takes,
    e.g. ``{"y": 32, "x": 32}``) it is a Dask array whose chunks each read their
    own window, on whichever worker runs them. Coordinates and attributes are
    those of ``to_xarray``; the Dataset's own attributes name the file, the
    block and the acquisition time. `block` is a triple as ``listContents``
    gives it, or "auto" for the file's primary block. The same is reached
    through ``xarray.open_dataset(path, engine="kestrel", block=...)``.

    The scalar coordinate ``file`` holds the path, so ``xarray.open_mfdataset``
    keeps which rows came from which file. Opening records the file's identity
    (device, inode, size and times): a read after the file was replaced or
    rewritten raises OSError "<path>: the file changed since it was opened".
    No file stays open between reads; ``close()`` is there for xarray's sake.

    >>> from kestrel_tools import DEMO_FILE
    >>> ds = open_dataset(DEMO_FILE)
    >>> ds.spectra.dims, ds.spectra.shape
    (('y', 'x', 'wavenumber'), (5, 6, 200))
    >>> ds.spectra.isel(y=1, x=slice(0, 2)).values.shape    # reads one window
    (2, 200)
    """
    xr = require("xarray", "xarray")
    if chunks is not None:
        require("dask.array", "dask")
    # The engine by its registered name: the engine's module imports this one.
    # xarray takes bytes for a path name: they go as a view (the lazy array keeps the bytes).
    source = memoryview(path) if isinstance(path, bytes) else source_of(path)
    dataset: xarray.Dataset = xr.open_dataset(source, engine="kestrel", block=block,
                                              storage_options=storage_options, chunks=chunks)
    return dataset


def lazy_dataset(path: Source, block: str | Sequence[str] = "auto",
                 drop_variables: str | Iterable[str] | None = None,
                 storage_options: StorageOptions = None) -> xarray.Dataset:
    """The Dataset of `block` with a lazy data variable: the plan is read now, the data later."""
    xr = require("xarray", "xarray")
    from xarray.core import indexing

    from kestrel_tools.xarray_backend.lazy_array import KestrelBackendArray

    source = whole_bytes(source_of(path))
    name = source_name(source)
    with naming_file(source):
        triple = resolve_block(source, block, storage_options)
    with naming_file(source, triple):
        plan = _windows.plan(source, triple, storage_options)
        acquired = acquisition(plan["parameters"])
    labels = labels_of(plan, triple, name, acquired)
    lazy: Any = KestrelBackendArray(source, triple, plan["kind"], plan["shape"], plan.get("identity"),
                                    storage_options)
    if labels.order is not None:
        from kestrel_tools.xarray_backend.transposed import TransposedArray

        lazy = TransposedArray(lazy, labels.order)
    dropped = {drop_variables} if isinstance(drop_variables, str) else set(drop_variables or ())
    variables = {} if labels.name in dropped else {
        labels.name: xr.Variable(labels.dims, indexing.LazilyIndexedArray(lazy), labels.attrs)}
    coords = {name: xr.Variable(c.dims, c.values, c.attrs) for name, c in labels.coords.items()
              if name not in dropped}
    if FILE_COORD not in dropped and FILE_COORD not in labels.dims:
        coords[FILE_COORD] = xr.Variable((), name)
    attrs = {key: value for key, value in labels.attrs.items() if key in FILE_ATTRS}
    dataset: xarray.Dataset = xr.Dataset(variables, coords=coords, attrs=attrs)
    dataset.set_close(_nothing_open)
    return dataset


def _nothing_open() -> None:
    """The closer of a lazily opened Dataset: every windowed read opens and
    closes the file itself, so nothing stays open in between."""
