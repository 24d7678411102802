"""Byte-range references: a file's data blocks as Zarr arrays whose chunks
point into the file itself, so that any Zarr reader (xarray's zarr engine,
plain zarr, on any machine that reaches the file) reads the values without
kestrel.

The references are the JSON that fsspec's ReferenceFileSystem reads (version
1): a Zarr group per block, named after its triple ("AB_3D_NONE"), holding the
block's main array, every stored run of float32 values one chunk
``[url, offset, length]`` (a spectrum, a trace, an image of one spectral
point, or a row of a map whose spectra lie back to back), and its axes and
coordinates inlined as small arrays, its parameters as attributes. Names,
dimensions and attributes are those of `open_dataset`, except that maps stored
one image per spectral point (and trace maps) keep their stored order:
(wavenumber, y, x) and (trace, y, x); ``.transpose("y", "x", ...)`` gives the
usual one. A block that cannot be referenced exactly (values that need more
reordering than chunking gives, a record the file cuts short, a block the
reader stops inside) is left out and listed, with the reason, under
"skipped" in the root group's attributes.

>>> import kestrel
>>> from kestrel_tools import DEMO_FILE
>>> refs = references(DEMO_FILE, blocks=[("AB", "3D", "NONE")])
>>> refs["version"], sorted(k for k in refs["refs"] if k.startswith("AB_3D_NONE/spectra/"))[:3]
(1, ['AB_3D_NONE/spectra/.zarray', 'AB_3D_NONE/spectra/.zattrs', 'AB_3D_NONE/spectra/0.0.0'])
>>> refs["refs"]["AB_3D_NONE/spectra/0.0.0"][1:]
[24420, 800]
"""

from __future__ import annotations

import base64
import json
import os
from collections.abc import Iterable, Mapping, Sequence
from typing import Any

import numpy as np
from numpy.typing import NDArray

from kestrel_tools import _native
from kestrel_tools._layout import MAP_KINDS, Plan, normalise_plan
from kestrel_tools._read_errors import READ_ERRORS
from kestrel_tools.byte_sources import Source, StorageOptions, is_url, naming_source, opened, source_name
from kestrel_tools.xarray_backend.labels import FILE_ATTRS, Coordinate, labels_of
from kestrel_tools.xarray_backend.source import acquisition

__all__ = ["references", "combine_references", "group_name", "reader_options"]

Block = tuple[str, str, str]
Refs = dict[str, Any]


class Unreferenceable(Exception):
    """A block whose values cannot be pointed at as they are read."""


def group_name(block: Sequence[str]) -> str:
    """The Zarr group of a block: its triple joined by underscores."""
    return "_".join(block)


def references(source: Source, url: str | None = None, blocks: Iterable[Sequence[str]] | None = None, *,
               storage_options: StorageOptions = None) -> dict[str, Any]:
    """Byte-range references (fsspec ReferenceFileSystem, version 1) to the data
    blocks of an OPUS file.

    Args:
        source: the file: a path, a URL (with `storage_options`), bytes or a file object.
        url: where readers of the references will find the file; by default the
            source's own URL, or its absolute path. Needed for bytes and file objects.
        blocks: the block triples to reference; by default every data block the
            file lists. A block the file does not list raises KeyError.

    Read them with ``xarray.open_dataset("reference://", engine="zarr",
    backend_kwargs={"storage_options": reader_options(refs), "consolidated": False},
    group="AB_3D_NONE")``; `combine_references` stacks those of many files.
    """
    target = url if url is not None else _default_url(source)
    refs: Refs = {".zgroup": json.dumps({"zarr_format": 2})}
    skipped: list[dict[str, str]] = []
    written: list[str] = []
    with opened(source, storage_options) as native:
        listed = [tuple(b) for b in _native.contents(native)]
        wanted = listed if blocks is None else [_triple(b) for b in blocks]
        for block in wanted:
            if block not in listed:
                raise KeyError(f"{source_name(source)} has no block {block}; it lists {listed}")
            try:
                with naming_source(source, block):
                    plan = normalise_plan(_native.plan(native, block))
            except READ_ERRORS as error:
                if isinstance(error, OSError) and not isinstance(native, (str, memoryview)):
                    raise  # the source failed, not the block
                skipped.append({"block": " ".join(block), "reason": f"it cannot be read: {error!r}"})
                continue
            try:
                _block_refs(refs, group_name(block), plan, block, target)
                written.append(group_name(block))
            except Unreferenceable as why:
                skipped.append({"block": " ".join(block), "reason": str(why)})
    refs[".zattrs"] = json.dumps({"source": target, "groups": written, "skipped": skipped})
    return {"version": 1, "refs": refs}


def reader_options(refs: Mapping[str, Any], remote_options: Mapping[str, Any] | None = None) -> dict[str, Any]:
    """The fsspec storage options that open `refs` as a "reference://" store.

    For files behind URLs the file system of their protocol is named, and made
    asynchronous as zarr's store needs it; `remote_options` go to that file
    system (credentials, an endpoint).

    >>> reader_options({"refs": {"a/0": ["s3://bucket/map.0", 0, 8]}})["remote_protocol"]
    's3'
    """
    options: dict[str, Any] = {"fo": refs}
    urls = (v[0] for v in refs["refs"].values() if isinstance(v, list) and v)
    first = next(urls, None)
    if isinstance(first, str) and is_url(first) and not first.startswith("file://"):
        options["remote_protocol"] = first.split("://", 1)[0]
        options["remote_options"] = {"asynchronous": True, **dict(remote_options or {})}
    return options


def _triple(block: Sequence[str]) -> Block:
    triple = tuple(block)
    if len(triple) != 3 or not all(isinstance(part, str) for part in triple):
        raise ValueError(f'a block is a triple of str such as ("AB", "3D", "NONE"), not {block!r}')
    return triple[0].upper(), triple[1].upper(), triple[2].upper()


def _default_url(source: Source) -> str:
    if is_url(source):
        assert isinstance(source, str)
        return source
    if isinstance(source, (str, os.PathLike)):
        return os.path.abspath(os.fspath(source))
    raise ValueError(f"references to {source_name(source)} need url=, where readers will find its bytes")


def _block_refs(refs: Refs, group: str, plan: Plan, block: Block, url: str) -> None:
    """Adds the group of one block, or raises Unreferenceable before adding anything."""
    storage: dict[str, Any] = plan["storage"]  # type: ignore[typeddict-item]
    if plan.get("failed_at") is not None:
        raise Unreferenceable(f"the block is damaged: a read of it stops at position {plan.get('failed_at')}")
    labels = labels_of(plan, block, url, acquisition(plan["parameters"]))
    dims, shape, chunks, runs = _layout(plan, storage, labels.stored_dims or labels.dims)
    entries: Refs = {}
    for name, coord in labels.coords.items():
        _inline(entries, f"{group}/{name}", coord)
    index_names = {name for name, c in labels.coords.items() if c.dims == (name,)}
    attrs: dict[str, Any] = dict(labels.attrs)
    others = [name for name in labels.coords if name not in index_names]
    if others:
        attrs["coordinates"] = " ".join(others)
    variable = f"{group}/{labels.name}"
    entries[f"{variable}/.zarray"] = _zarray(shape, chunks, "<f4")
    entries[f"{variable}/.zattrs"] = json.dumps({"_ARRAY_DIMENSIONS": list(dims), **attrs})
    keys, offsets, lengths = runs
    entries.update(zip([f"{variable}/{key}" for key in keys],
                       [[url, offset, length] for offset, length in zip(offsets.tolist(), lengths.tolist())]))
    entries[f"{group}/.zgroup"] = json.dumps({"zarr_format": 2})
    entries[f"{group}/.zattrs"] = json.dumps({k: v for k, v in labels.attrs.items() if k in FILE_ATTRS})
    refs.update(entries)


Runs = tuple[list[str], NDArray[np.int64], NDArray[np.int64]]


def _record_offsets(storage: Mapping[str, Any], count: int) -> NDArray[np.int64]:
    """The file offsets of map positions 0..count-1, from the plan's record runs."""
    table = np.asarray(storage["record_runs"], dtype=np.int64).reshape(-1, 3)
    stride = int(storage["stride"])
    offsets = np.full(count, -1, dtype=np.int64)
    for first, n, offset in table.tolist():
        stop = min(first + n, count)
        if first < stop:
            offsets[first:stop] = offset + stride * np.arange(stop - first, dtype=np.int64)
    if (offsets < 0).any():
        raise Unreferenceable("a record the block needs has no place in the file")
    return offsets


def _check_inside(offsets: NDArray[np.int64], length: int, storage: Mapping[str, Any]) -> None:
    if len(offsets) and int(offsets.max()) + length > int(storage["file_size"]):
        raise Unreferenceable("the file ends inside a record: the reader repeats its first value over the row")


def _keys(shape: tuple[int, ...], count: int) -> list[str]:
    """Zarr chunk keys of the first `count` cells of a (rows, columns, depth) grid, one chunk per cell."""
    columns = shape[1]
    return [f"{i // columns}.{i % columns}.0" for i in range(count)]


def _layout(plan: Plan, storage: Mapping[str, Any],
            dims: tuple[str, ...]) -> tuple[tuple[str, ...], tuple[int, ...], tuple[int, ...], Runs]:
    """Stored dimensions, shape, chunk shape and chunk runs (keys, offsets, lengths) of the main array."""
    kind = plan["kind"]
    shape = plan["shape"]
    empty = np.empty(0, dtype=np.int64)
    if kind == "spectrum":
        npt = shape[0]
        offsets = np.array([int(storage["data_offset"])], dtype=np.int64)
        _check_inside(offsets, 4 * npt, storage)
        keys = ["0"] if npt else []
        return dims, shape, (max(npt, 1),), (keys, offsets[: len(keys)], np.full(len(keys), 4 * npt, np.int64))
    if kind in MAP_KINDS:
        ny, nx, depth = shape
        layout = plan.get("layout")
        if layout in ("transposed", "traces"):
            # One record per spectral point (or trace): a whole ny x nx image.
            count = min(int(storage["records"]), depth)
            offsets = _record_offsets(storage, count)
            _check_inside(offsets, 4 * ny * nx, storage)
            stored = (depth, ny, nx)
            keys = [f"{k}.0.0" for k in range(count)]
            return ((dims[2], dims[0], dims[1]), stored, (1, max(ny, 1), max(nx, 1)),
                    (keys, offsets, np.full(count, 4 * ny * nx, np.int64)))
        if layout != "per_position":
            return dims, shape, (1, 1, max(depth, 1)), ([], empty, empty)  # nothing is stored: all zeros
        count = min(int(storage["records"]), ny * nx)
        offsets = _record_offsets(storage, count)
        _check_inside(offsets, 4 * depth, storage)
        row_bytes = 4 * depth * nx
        if (count == ny * nx and nx > 1 and int(storage["stride"]) == 4 * depth
                and (np.diff(offsets.reshape(ny, nx), axis=1) == 4 * depth).all()):
            # Spectra back to back: a whole row of the map is one run.
            return (dims, shape, (1, nx, max(depth, 1)),
                    ([f"{r}.0.0" for r in range(ny)], offsets[::nx].copy(), np.full(ny, row_bytes, np.int64)))
        return dims, shape, (1, 1, max(depth, 1)), (_keys(shape, count), offsets,
                                                   np.full(count, 4 * depth, np.int64))
    if kind in ("series", "trace_series"):
        rows, width = shape
        offsets = _record_offsets(storage, rows)
        _check_inside(offsets, 4 * width, storage)
        return (dims, shape, (1, max(width, 1)),
                ([f"{r}.0" for r in range(rows)], offsets, np.full(rows, 4 * width, np.int64)))
    if kind == "multi_region":
        rows, width = shape
        table = np.asarray(storage["rows"], dtype=np.int64).reshape(-1, 2)
        if table[:, 1].any():
            raise Unreferenceable("the file ends inside a record: the reader repeats its first value over the row")
        present = np.flatnonzero(table[:, 0] >= 0)  # the others are rows of zeros
        offsets = table[present, 0]
        _check_inside(offsets, 4 * width, storage)
        return (dims, shape, (1, max(width, 1)),
                ([f"{r}.0" for r in present.tolist()], offsets, np.full(len(present), 4 * width, np.int64)))
    raise Unreferenceable("its values are gathered point by point from every trace: they need reordering "
                          "beyond chunking")


def _zarray(shape: Sequence[int], chunks: Sequence[int], dtype: str) -> str:
    return json.dumps({"chunks": list(chunks), "compressor": None, "dtype": dtype, "fill_value": None,
                       "filters": None, "order": "C", "shape": list(shape), "zarr_format": 2})


def _inline(entries: Refs, name: str, coord: Coordinate) -> None:
    """A small array stored in the references themselves."""
    values = np.asarray(coord.values)
    if values.dtype.kind in "OUS":
        longest = max((len(str(v)) for v in values.ravel()), default=1)
        values = values.astype(f"<U{max(longest, 1)}")
    elif values.dtype.kind == "f":
        values = values.astype("<f8")
    values = np.ascontiguousarray(values)
    chunks = tuple(max(n, 1) for n in values.shape)
    entries[f"{name}/.zarray"] = _zarray(values.shape, chunks, values.dtype.str)
    entries[f"{name}/.zattrs"] = json.dumps({"_ARRAY_DIMENSIONS": list(coord.dims), **coord.attrs})
    if values.size:
        entries[f"{name}/" + ".".join("0" * values.ndim)] = "base64:" + base64.b64encode(values.tobytes()).decode()


def combine_references(many: Sequence[Mapping[str, Any]], dim: str = "file",
                       names: Sequence[str] | None = None) -> dict[str, Any]:
    """References of several files stacked along a new first dimension `dim`.

    Every file must hold the same groups with main arrays of one shape and equal
    axes and coordinates (the first file's are kept); a difference raises
    ValueError naming the file. `names` label the new dimension (by default each
    file's source). Blocks skipped in any file are left out.
    """
    if not many:
        raise ValueError("combine_references needs at least one set of references")
    tops = [json.loads(m["refs"][".zattrs"]) for m in many]
    labels = list(names) if names is not None else [str(t.get("source", i)) for i, t in enumerate(tops)]
    groups = [g for g in tops[0]["groups"] if all(g in t["groups"] for t in tops[1:])]
    first = many[0]["refs"]
    out: Refs = {".zgroup": first[".zgroup"]}
    for group in groups:
        arrays = sorted({k.rsplit("/", 2)[1] for k in first if k.startswith(group + "/") and k.endswith("/.zarray")})
        for array in arrays:
            prefix = f"{group}/{array}/"
            meta = json.loads(first[prefix + ".zarray"])
            attrs = json.loads(first[prefix + ".zattrs"])
            chunked = "block" in attrs  # the main array; the rest are inlined axes and coordinates
            for i, m in enumerate(many[1:], 1):
                refs = m["refs"]
                same_meta = json.loads(refs.get(prefix + ".zarray", "null")) == meta
                if not same_meta or (not chunked and _inlined(refs, prefix) != _inlined(first, prefix)):
                    raise ValueError(f"{labels[i]}: {group}/{array} differs from that of {labels[0]}")
            if not chunked:
                out.update({k: v for k, v in first.items() if k.startswith(prefix)})
                continue
            meta["shape"] = [len(many), *meta["shape"]]
            meta["chunks"] = [1, *meta["chunks"]]
            attrs["_ARRAY_DIMENSIONS"] = [dim, *attrs["_ARRAY_DIMENSIONS"]]
            attrs.pop("source", None)
            out[prefix + ".zarray"] = json.dumps(meta)
            out[prefix + ".zattrs"] = json.dumps(attrs)
            for i, m in enumerate(many):
                for key, value in m["refs"].items():
                    if key.startswith(prefix) and not key[len(prefix):].startswith("."):
                        out[f"{prefix}{i}.{key[len(prefix):]}"] = value
        out[f"{group}/.zgroup"] = first[f"{group}/.zgroup"]
        group_attrs = json.loads(first[f"{group}/.zattrs"])
        group_attrs.pop("source", None)
        out[f"{group}/.zattrs"] = json.dumps(group_attrs)
        _inline(out, f"{group}/{dim}", Coordinate((dim,), np.array(labels, dtype=object)))
    out[".zattrs"] = json.dumps({"sources": labels, "groups": groups,
                                 "skipped": [s for t in tops for s in t.get("skipped", [])]})
    return {"version": 1, "refs": out}


def _inlined(refs: Mapping[str, Any], prefix: str) -> dict[str, Any]:
    return {k: v for k, v in refs.items() if k.startswith(prefix)}
