"""A plain xarray Dataset of any result or Collection, for the netCDF writer.

Dimensions: ``x`` (the spectral axis), ``map_y``/``map_x`` (image maps), ``z``
(series), ``trace`` (trace kinds), ``point`` (multi-region maps, with region,
map_x, map_y and start_time as coordinates along it), ``file`` (Collections).
The parameters become attributes.
"""

from __future__ import annotations

import datetime as dt
from typing import Any

import numpy as np

from kestrel_tools._optional import require
from kestrel_tools.export._table import flat_table, kind_of
from kestrel_tools.export._units import x_unit, y_kind


def dataset_of(data: Any) -> Any:
    """The Dataset of a result or a Collection (one data variable, ``spectra`` or ``traces``)."""
    xr = require("xarray", "xarray")
    kind = kind_of(data)
    x = np.asarray(data.x, dtype=np.float64)
    coords: dict[str, Any] = {"x": ("x", x)}
    attrs: dict[str, Any] = {"kind": kind}
    dims: tuple[str, ...]
    if kind == "collection":
        name, dims, values = "spectra", ("file", "x"), np.asarray(data.spectra)
        coords["file"] = ("file", np.array([str(f) for f in data.files], dtype=object))
        _collection_coords(data, coords)
    else:
        attrs.update(block=f"{data.dataType} {data.dimension} {data.derivative}",
                     **{f"parameter_{key}": value for key, value in data.parameters.items()})
        labels = np.array([str(s) for s in getattr(data, "labels", [])], dtype=object)
        if kind == "spectrum":
            name, dims, values = "spectrum", ("x",), np.asarray(data.y)
        elif kind in ("image_map", "trace_map"):
            coords["map_x"] = ("map_x", np.asarray(data.mapX, np.float64))
            coords["map_y"] = ("map_y", np.asarray(data.mapY, np.float64))
            if kind == "image_map":
                name, dims, values = "spectra", ("map_y", "map_x", "x"), np.asarray(data.spectra)
            else:
                name, dims, values = "traces", ("map_y", "map_x", "trace"), np.asarray(data.traces)
                coords["trace"] = ("trace", labels)
        elif kind == "series":
            name, dims, values = "spectra", ("z", "x"), np.asarray(data.spectra)
            coords["z"] = ("z", np.asarray(data.z, np.float64), {"units": str(data.parameters.get("ZTX", ""))})
        elif kind == "trace_series":
            name, dims, values = "traces", ("trace", "x"), np.asarray(data.traces)
            coords["trace"] = ("trace", labels)
        else:
            table = flat_table(data)
            is_trace = kind == "multi_region_trace"
            name = "traces" if is_trace else "spectra"
            dims, values = ("point", "trace" if is_trace else "x"), table.values
            for key, column in table.keys.items():
                coords[key] = ("point", column)
            if is_trace:
                coords["trace"] = ("trace", labels)
        coords["x"] = ("x", x, {"units": x_unit(data.parameters.get("DXU")).label})
        attrs["y_kind"] = y_kind(data.dataType).label
    return xr.Dataset({name: (dims, values)}, coords=coords, attrs=attrs)


def _collection_coords(data: Any, coords: dict[str, Any]) -> None:
    """Per-file metadata of a Collection as coordinates along ``file``."""
    info = list(getattr(data, "info", []) or [])
    if len(info) != len(data.files):
        return
    for field in ("sample_name", "operator", "instrument"):
        values = [getattr(i, field, None) for i in info]
        if any(v is not None for v in values):
            coords[field] = ("file", np.array(["" if v is None else str(v) for v in values], dtype=object))
    times = [getattr(i, "acquired", None) for i in info]
    if any(t is not None for t in times):
        # UTC instants; netCDF has no zone per value.
        coords["acquired"] = ("file", np.array(
            [np.datetime64(t.astimezone(dt.UTC).replace(tzinfo=None), "ms") if t is not None
             else np.datetime64("NaT", "ms") for t in times]))

