"""Every result kind and a Collection as one flat table: key columns that say
where a row was measured, and a matrix of values along x (or along the traces).

CSV and Parquet write the same tables, so the two formats agree column for column.
"""

from __future__ import annotations

import dataclasses
from typing import Any, Literal

import numpy as np

from kestrel_tools._layout import result_kind

Layout = Literal["wide", "long"]

def is_collection(data: Any) -> bool:
    """A Collection (spectra of many files) rather than one result."""
    return all(hasattr(data, name) for name in ("x", "spectra", "files")) and not hasattr(data, "dataType")


def kind_of(data: Any) -> str:
    """The kind of a result ("spectrum", "image_map", ...), or "collection".

    Subclasses of the result classes count as their base.
    """
    if is_collection(data):
        return "collection"
    kind = result_kind(data)
    if kind is not None:
        return kind
    raise TypeError(f"expected a kestrel result or a Collection, got {type(data).__name__}")


@dataclasses.dataclass(frozen=True)
class FlatTable:
    """Rows of values along one axis, with key columns per row.

    `axis` holds the column coordinates: float64 x values, or the trace labels
    (str) when `axis_name` is "trace".
    """

    keys: dict[str, np.ndarray]
    axis_name: str
    axis: np.ndarray
    values: np.ndarray
    kind: str

    @property
    def shape(self) -> tuple[int, int]:
        return (self.values.shape[0], self.values.shape[1])


def _grid_keys(map_x: np.ndarray, map_y: np.ndarray) -> dict[str, np.ndarray]:
    # Rows run along a map row first, as spectra[row][column] does.
    xs = np.asarray(map_x, dtype=np.float64)
    ys = np.asarray(map_y, dtype=np.float64)
    return {"map_y": np.repeat(ys, len(xs)), "map_x": np.tile(xs, len(ys))}


def _region_keys(regions: list[Any], with_time: bool) -> dict[str, np.ndarray]:
    sizes = [len(region.spectra) for region in regions]
    keys = {
        "region": np.repeat(np.array([str(r.title) for r in regions], dtype=object), sizes),
        "map_x": np.concatenate([np.asarray(r.mapX, np.float64) for r in regions]) if regions else np.empty(0),
        "map_y": np.concatenate([np.asarray(r.mapY, np.float64) for r in regions]) if regions else np.empty(0),
    }
    if with_time:
        keys["start_time"] = np.concatenate(
            [np.asarray(r.start_time, np.float64) if r.start_time is not None else np.full(n, np.nan)
             for r, n in zip(regions, sizes)]) if regions else np.empty(0)
    return keys


def _positions(cube: np.ndarray) -> np.ndarray:
    # (rows, columns, n) -> (rows * columns, n); spelled out, since -1 cannot be inferred for an empty map.
    return cube.reshape(cube.shape[0] * cube.shape[1], cube.shape[2])


def _stack(arrays: list[np.ndarray], width: int) -> np.ndarray:
    if not arrays:
        return np.empty((0, width), np.float32)
    return np.concatenate([np.asarray(a).reshape(len(a), -1 if len(a) else width) for a in arrays])


def flat_table(data: Any) -> FlatTable:
    """The table of a result or a Collection.

    >>> import kestrel, kestrel_tools
    >>> t = flat_table(kestrel.getOpusData(str(kestrel_tools.DEMO_FILE), ("AB", "3D", "NONE")))
    >>> list(t.keys), t.axis_name, t.shape
    (['map_y', 'map_x'], 'x', (30, 200))
    """
    kind = kind_of(data)
    x = np.asarray(data.x, dtype=np.float64)
    labels = np.array([str(label) for label in getattr(data, "labels", [])], dtype=object)
    if kind == "collection":
        files = np.array([str(f) for f in data.files], dtype=object)
        return FlatTable({"file": files}, "x", x, np.asarray(data.spectra), kind)
    if kind == "spectrum":
        return FlatTable({}, "x", x, np.asarray(data.y).reshape(1, -1), kind)
    if kind == "image_map":
        cube = np.asarray(data.spectra)
        return FlatTable(_grid_keys(data.mapX, data.mapY), "x", x, _positions(cube), kind)
    if kind == "trace_map":
        cube = np.asarray(data.traces)
        return FlatTable(_grid_keys(data.mapX, data.mapY), "trace", labels, _positions(cube), kind)
    if kind == "series":
        return FlatTable({"z": np.asarray(data.z, np.float64)}, "x", x, np.asarray(data.spectra), kind)
    if kind == "trace_series":
        return FlatTable({"trace": labels}, "x", x, np.asarray(data.traces), kind)
    if kind == "multi_region":
        return FlatTable(_region_keys(data.regions, True), "x", x,
                         _stack([r.spectra for r in data.regions], len(x)), kind)
    return FlatTable(_region_keys(data.regions, False), "trace", labels,
                     _stack([r.spectra for r in data.regions], len(labels)), kind)


def long_columns(table: FlatTable) -> dict[str, np.ndarray]:
    """The table in long form: the key columns repeated per value, then the axis and the value."""
    rows, width = table.shape
    columns = {name: np.repeat(values, width) for name, values in table.keys.items()}
    columns[table.axis_name] = np.tile(table.axis, rows)
    columns["value"] = table.values.reshape(-1)
    return columns
