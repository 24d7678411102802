"""Every result kind and a Collection as one flat table, named by the data model:
key columns that say where a row was measured, and a matrix of values along
the spectral axis (or along the traces).

pandas, CSV and Parquet all write these tables, so they agree column for column.

>>> import kestrel, kestrel_tools
>>> t = flat_table(kestrel.getOpusData(str(kestrel_tools.DEMO_FILE), ("AB", "3D", "NONE")))
>>> list(t.keys), t.along, t.shape, t.layout.long_columns
(['x', 'y'], 'wavenumber', (30, 200), ('x', 'y', 'wavenumber', 'value'))
"""

from __future__ import annotations

import dataclasses
from typing import Any

import numpy as np
from numpy.typing import NDArray

from kestrel_tools import model
from kestrel_tools._layout import result_kind

Array = NDArray[Any]


def is_collection(data: Any) -> bool:
    """A Collection (spectra of many files) rather than one result."""
    return all(hasattr(data, name) for name in ("x", "spectra", "files")) and not hasattr(data, "dataType")


def kind_of(data: Any) -> model.ResultKind:
    """The kind of a result ("spectrum", "image_map", ...), or "collection".

    Subclasses of the result classes count as their base.
    """
    if is_collection(data):
        return "collection"
    kind = result_kind(data)
    if kind is not None:
        return kind
    raise TypeError(f"expected a kestrel result or a Collection, got {type(data).__name__}")


def layout_of_data(data: Any) -> model.Layout:
    """The data model's layout of a result or a Collection."""
    kind = kind_of(data)
    if kind == "collection":
        return model.layout_of(kind, collection_parameters(data), _first(getattr(data, "blocks", [])))
    return model.layout_of(kind, data.parameters, str(data.dataType))


def collection_parameters(data: Any) -> dict[str, Any]:
    """The parameters that name a Collection's axes: those of its first file,
    from its FileInfo when already read, else read from the file (its plan, not
    its values); empty when there is no file or it cannot be read now."""
    own = getattr(data, "parameters", None)
    if isinstance(own, dict):
        return dict(own)
    cached = getattr(data, "_info", None)
    if cached:
        return dict(cached[0].parameters)
    if not len(data.files) or not getattr(data, "blocks", None):
        return {}
    from kestrel_tools import metadata

    try:
        return dict(metadata.read_parameters(str(data.files[0]), tuple(data.blocks[0])))
    except (OSError, ValueError, KeyError, IndexError, TypeError, MemoryError):
        return {}


def _first(blocks: list[Any]) -> str | None:
    return str(blocks[0][0]) if blocks else None


@dataclasses.dataclass(frozen=True)
class FlatTable:
    """Rows of values along one axis, with key columns per row.

    `axis` holds the value columns' coordinates: float64 x values, or the trace
    labels (str) when `along` is "trace". `values` has one row per table row.
    """

    keys: dict[str, Array]
    along: str
    axis: Array
    values: Array
    layout: model.Layout

    @property
    def kind(self) -> model.ResultKind:
        return self.layout.kind

    @property
    def shape(self) -> tuple[int, int]:
        return (self.values.shape[0], self.values.shape[1])

    def long_columns(self) -> dict[str, Array]:
        """The table in long form: the key columns repeated per value, then the axis and the value."""
        rows, width = self.shape
        columns = {name: np.repeat(values, width) for name, values in self.keys.items()}
        columns[self.along] = np.tile(self.axis, rows)
        columns[model.VALUE_COLUMN] = self.values.reshape(-1)
        return columns


def _grid_keys(map_x: Any, map_y: Any) -> dict[str, Array]:
    # Rows run along a map row first, as spectra[row][column] does.
    xs = np.asarray(map_x, dtype=np.float64)
    ys = np.asarray(map_y, dtype=np.float64)
    return {"x": np.tile(xs, len(ys)), "y": np.repeat(ys, len(xs))}


def _region_keys(regions: list[Any], with_time: bool) -> dict[str, Array]:
    sizes = [len(region.spectra) for region in regions]
    keys = {
        "region": np.repeat(np.array([str(r.title) for r in regions], dtype=object), sizes),
        "x": np.concatenate([np.asarray(r.mapX, np.float64) for r in regions]) if regions else np.empty(0),
        "y": np.concatenate([np.asarray(r.mapY, np.float64) for r in regions]) if regions else np.empty(0),
    }
    if with_time:
        keys["start_time"] = np.concatenate(
            [np.asarray(r.start_time, np.float64) if r.start_time is not None else np.full(n, np.nan)
             for r, n in zip(regions, sizes)]) if regions else np.empty(0)
    return keys


def _positions(cube: Array) -> Array:
    # (rows, columns, n) -> (rows * columns, n); spelled out, since -1 cannot be inferred for an empty map.
    return cube.reshape(cube.shape[0] * cube.shape[1], cube.shape[2])


def _stack(arrays: list[Any], width: int) -> Array:
    if not arrays:
        return np.empty((0, width), np.float32)
    return np.concatenate([np.asarray(a).reshape(len(a), -1 if len(a) else width) for a in arrays])


def flat_table(data: Any) -> FlatTable:
    """The table of a result or a Collection (no copy of the values where a view does).

    Key columns, in order: none for a spectrum; ``x, y`` for maps; ``time`` for
    series and trace series (one row per time point); ``region, x, y`` and
    ``start_time`` for multi-region maps; ``file`` for a Collection.
    """
    layout = layout_of_data(data)
    kind = layout.kind
    x = np.asarray(data.x, dtype=np.float64)
    labels = np.array([str(label) for label in getattr(data, "labels", [])], dtype=object)
    along = layout.along
    axis = labels if along == model.TRACE else x
    if kind == "collection":
        keys: dict[str, Array] = {"file": np.array([str(f) for f in data.files], dtype=object)}
        values = np.asarray(data.spectra)
    elif kind == "spectrum":
        keys, values = {}, np.asarray(data.y).reshape(1, -1)
    elif kind == "image_map":
        keys, values = _grid_keys(data.mapX, data.mapY), _positions(np.asarray(data.spectra))
    elif kind == "trace_map":
        keys, values = _grid_keys(data.mapX, data.mapY), _positions(np.asarray(data.traces))
    elif kind == "series":
        keys, values = {"time": np.asarray(data.z, np.float64)}, np.asarray(data.spectra)
    elif kind == "trace_series":
        # traces[i] runs along x (the time), so a row is one time point and a column one trace.
        keys, values = {"time": x}, np.asarray(data.traces).T
    else:
        keys = _region_keys(data.regions, kind == "multi_region")
        values = _stack([r.spectra for r in data.regions], len(axis))
    return FlatTable(keys, along, axis, values, layout)
