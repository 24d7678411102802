"""open_dataset: a block of an OPUS file as a lazy xarray Dataset."""

from __future__ import annotations

import os
from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any

from kestrel_tools import _windows, model
from kestrel_tools._layout import Plan
from kestrel_tools._optional import require
from kestrel_tools.byte_sources import Source, StorageOptions, is_url, naming_source, source_name, whole_bytes
from kestrel_tools.sources import is_stream
from kestrel_tools.xarray_backend.chunking import preferred_chunks
from kestrel_tools.xarray_backend.labels import FILE_ATTRS, axis_attributes, labels_of
from kestrel_tools.xarray_backend.source import Block, acquisition, resolve_block, source_of

if TYPE_CHECKING:
    import xarray

# The scalar coordinate naming the file, which open_mfdataset stacks along its files.
FILE_COORD = "file"
# The encoding entry holding the chunks the plan proposes (see chunking.py): not
# xarray's "preferred_chunks", which would warn about every other choice.
CHUNKS_KEY = "kestrel_chunks"


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

    The times of a series (and the start times of a multi-region map's points)
    lie in every record: they are read when first used, not when opening, so
    ``time`` comes without an index; ``ds.set_xindex("time")`` reads them and
    gives ``.sel(time=...)``. (``xarray.open_dataset`` itself indexes them at
    once unless given ``create_default_indexes=False``.)

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
    # xarray indexes every dimension coordinate at once unless told not to:
    # the lazy times would be read on opening.
    lazy_indexes = {"create_default_indexes": False} if _takes("create_default_indexes") else {}
    # The engine by its registered name: the engine's module imports this one.
    # xarray takes bytes for a path name: they go as a view (the lazy array keeps the bytes).
    local = os.fspath(path) if isinstance(path, (str, os.PathLike)) else None
    if isinstance(local, str) and not is_url(local) and is_stream(local):
        # A FIFO or a device gives its bytes once: the lazy reads work from them.
        with open(local, "rb") as stream:
            path = stream.read()
    source = memoryview(path) if isinstance(path, bytes) else source_of(path)
    # The default chunks ({} or "auto") are the engine's: slabs of whole stored rows.
    default = isinstance(chunks, str) and chunks == "auto" or isinstance(chunks, Mapping) and not chunks
    dataset: xarray.Dataset = xr.open_dataset(source, engine="kestrel", block=block,
                                              storage_options=storage_options, chunks=None if default else chunks,
                                              **lazy_indexes)
    if default:
        dataset = dataset.chunk(_default_chunks(dataset))
    return dataset


def _default_chunks(dataset: xarray.Dataset) -> dict[str, int]:
    """The chunks that the data variable's plan proposes (one chunk along every other dimension)."""
    chunks: dict[str, int] = {}
    for variable in dataset.data_vars.values():
        chunks.update(variable.encoding.get(CHUNKS_KEY) or {})
    return chunks


def _takes(parameter: str) -> bool:
    """Whether this xarray's open_dataset takes `parameter`."""
    import inspect

    import xarray as xr

    return parameter in inspect.signature(xr.open_dataset).parameters


def lazy_dataset(path: Source, block: str | Sequence[str] = "auto",
                 drop_variables: str | Iterable[str] | None = None,
                 storage_options: StorageOptions = None) -> xarray.Dataset:
    """The Dataset of `block` with a lazy data variable: the plan is read now, the data later."""
    xr = require("xarray", "xarray")
    from xarray.core import indexing

    from kestrel_tools.xarray_backend.lazy_array import KestrelBackendArray

    source = whole_bytes(source_of(path))
    name = source_name(source)
    with naming_source(source):
        triple = resolve_block(source, block, storage_options)
    with naming_source(source, triple):
        plan = _windows.plan(source, triple, storage_options, times=False)
        acquired = acquisition(plan["parameters"])
    identity = plan.get("identity")
    labels = labels_of(_without_times(plan), triple, name, acquired)
    lazy: Any = KestrelBackendArray(source, triple, plan["kind"], plan["shape"], identity, storage_options)
    if labels.order is not None:
        from kestrel_tools.xarray_backend.transposed import TransposedArray

        lazy = TransposedArray(lazy, labels.order)
    dropped = {drop_variables} if isinstance(drop_variables, str) else set(drop_variables or ())
    variables = {} if labels.name in dropped else {
        labels.name: xr.Variable(labels.dims, indexing.LazilyIndexedArray(lazy), labels.attrs)}
    preferred = None if labels.order is not None else preferred_chunks(plan, labels.dims)
    if preferred is not None and labels.name in variables:
        variables[labels.name].encoding[CHUNKS_KEY] = preferred
    coords: dict[str, Any] = {name: xr.Variable(c.dims, c.values, c.attrs) for name, c in labels.coords.items()
                              if name not in dropped}
    coords.update(_lazy_times(plan, triple, source, dropped, storage_options))
    if FILE_COORD not in dropped and FILE_COORD not in labels.dims:
        coords[FILE_COORD] = xr.Variable((), name)
    attrs = {key: value for key, value in labels.attrs.items() if key in FILE_ATTRS}
    # Coordinates given without indexes keep the lazy times lazy; every other
    # dimension coordinate gets its index as usual.
    indexed = {name: c for name, c in coords.items() if name not in TIME_COORDS.values() or c.dims != (name,)}
    lazy_times = {name: c for name, c in coords.items() if name not in indexed}
    dataset: xarray.Dataset = xr.Dataset(variables, coords=indexed, attrs=attrs)
    if lazy_times:
        dataset = dataset.assign_coords(xr.Coordinates(lazy_times, indexes={}))
    dataset.set_close(_nothing_open)
    return dataset


# The coordinates read from every record (a series' time, a multi-region map's
# start times): left out of the plan, read when first used.
TIME_COORDS = {"series": "time", "multi_region": "start_time"}


def _without_times(plan: Plan) -> Plan:
    """`plan` without the per-record times it was made without, so the labels leave them out."""
    bare: Any = dict(plan)
    bare.pop("z", None)
    return bare  # type: ignore[no-any-return]


def _lazy_times(plan: Plan, block: Block, source: Source, dropped: set[str],
                storage_options: StorageOptions) -> dict[str, Any]:
    """The lazily read time coordinate of a series or multi-region map, named, dimensioned and labelled
    as the data model says, or nothing for other kinds."""
    kind = plan["kind"]
    name = TIME_COORDS.get(kind)
    if name is None or name in dropped:
        return {}
    xr = require("xarray", "xarray")
    from xarray.core import indexing

    from kestrel_tools.xarray_backend.lazy_array import KestrelTimesArray

    axis = model.layout_of(kind, plan["parameters"], block[0]).coords.get(name)
    if axis is None:
        return {}
    times = KestrelTimesArray(source, block, plan["shape"][0], plan.get("identity"), storage_options)
    return {name: xr.Variable(axis.dims, indexing.LazilyIndexedArray(times), axis_attributes(axis))}

def _nothing_open() -> None:
    """The closer of a lazily opened Dataset: every windowed read opens and
    closes the file itself, so nothing stays open in between."""
