"""Names, coordinates and attributes of a block's labelled array, worked out
from its plan and the data model (kestrel_tools.model): the same for an eager
result and for a lazily opened file.

Everything here is plain numpy and Python, so it needs no xarray; attribute
values are str, int or float only, so any netCDF writer accepts them.

>>> spectral_axis({"DXU": "WN"})
('wavenumber', 'cm-1')
>>> spectral_axis({"DXU": "XYZ"})
('abscissa', 'XYZ')
"""

from __future__ import annotations

from collections.abc import Mapping
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from kestrel_tools import model
from kestrel_tools._layout import Plan

Attrs = dict[str, str | int | float]


@dataclass
class Coordinate:
    """One coordinate: the dimensions it runs along, its values, its attributes."""

    dims: tuple[str, ...]
    values: np.ndarray[Any, Any]
    attrs: Attrs = field(default_factory=dict)


@dataclass
class Labels:
    """Everything about a block's array except its values.

    `stored_dims` are the dimensions in the order the block's array holds them
    (a trace series stores (trace, time)); `dims` the order it is shown in.
    """

    name: str
    dims: tuple[str, ...]
    coords: dict[str, Coordinate]
    attrs: Attrs
    stored_dims: tuple[str, ...] = ()

    @property
    def order(self) -> tuple[int, ...] | None:
        """The axes of the stored array in the order of `dims`, None when they agree."""
        if not self.stored_dims or self.stored_dims == self.dims:
            return None
        return tuple(self.stored_dims.index(d) for d in self.dims)


def spectral_axis(parameters: Mapping[str, Any]) -> tuple[str, str]:
    """The dimension name and unit text of the x axis, from the parameter DXU."""
    unit = model.x_unit(parameters.get("DXU"))
    return unit.dim, unit.unit


def axis_attributes(axis: model.Axis) -> Attrs:
    """The attributes of a coordinate: its long name, and its units when it has one."""
    attrs: Attrs = {"long_name": axis.label}
    if axis.unit:
        attrs["units"] = axis.unit
    return attrs


def value_attributes(layout: model.Layout) -> Attrs:
    """What the data variable's values are: its long name and its kind ("absorbance")."""
    return {"long_name": layout.value.label, "y_kind": layout.value.name}


def netcdf_value(value: object) -> str | int | float | None:
    """`value` as a str, int or float, or None when it is none of them."""
    if isinstance(value, np.generic):
        value = value.item()
    if isinstance(value, bool):
        return int(value)
    if isinstance(value, (str, int, float)):
        return value
    return None


def attributes(parameters: Mapping[str, Any], block: tuple[str, str, str], path: str | None,
               acquired: Mapping[str, str]) -> Attrs:
    """The scalar parameters under their keys, then the block, the source file and
    the acquisition time."""
    attrs: Attrs = {}
    for key, value in parameters.items():
        converted = netcdf_value(value)
        if isinstance(key, str) and converted is not None:
            attrs[key] = converted
    attrs["block"] = " ".join(block)
    if path is not None:
        attrs["source"] = path
    attrs.update(acquired)
    return attrs


def _strings(values: list[str]) -> np.ndarray[Any, Any]:
    return np.array(values, dtype=object) if values else np.empty(0, dtype=object)


def labels_of(plan: Plan, block: tuple[str, str, str], path: str | None, acquired: Mapping[str, str]) -> Labels:
    """Dimensions, coordinates and attributes of the block that `plan` describes.

    Dimensions and coordinate names come from the data model: maps run along
    (y, x, ...), series and trace series along (time, ...), multi-region blocks
    along point with the region, x, y (and start time) of every point as
    coordinates; the spectral axis is named from its unit.
    """
    kind = plan["kind"]
    parameters = plan["parameters"]
    layout = model.layout_of(kind, parameters, block[0])
    values: dict[str, np.ndarray[Any, Any]] = {}
    if layout.spectral_dim is not None:
        values[layout.spectral_dim] = np.asarray(plan["x"], dtype=np.float64)
    if "labels" in plan:
        values[model.TRACE] = _strings(list(plan["labels"]))
    if kind in ("image_map", "trace_map"):
        values["y"] = np.asarray(plan["mapY"], dtype=np.float64)
        values["x"] = np.asarray(plan["mapX"], dtype=np.float64)
    elif kind == "series":
        values["time"] = np.asarray(plan["z"], dtype=np.float64)
    elif kind == "trace_series":
        values["time"] = np.asarray(plan["x"], dtype=np.float64)
    elif "regions" in plan:
        values.update(_region_values(plan))
    coords = {name: Coordinate(axis.dims, values[name], axis_attributes(axis))
              for name, axis in layout.coords.items() if name in values}
    attrs = attributes(parameters, block, path, acquired)
    attrs.update(value_attributes(layout))
    stored = (model.TRACE, "time") if kind == "trace_series" else layout.dims
    return Labels(layout.variable, layout.dims, coords, attrs, stored)


def _region_values(plan: Plan) -> dict[str, np.ndarray[Any, Any]]:
    """Per point of the stacked regions: its region's title, its x and y, and its start time."""
    regions = plan["regions"]
    titles = [region["title"] for region in regions for _ in range(region["start"], region["stop"])]
    values = {
        "region": _strings(titles),
        "x": _concat([region["mapX"] for region in regions]),
        "y": _concat([region["mapY"] for region in regions]),
    }
    times = [region["start_time"] for region in regions]
    if plan["kind"] == "multi_region" and all(t is not None for t in times):
        values["start_time"] = _concat([t for t in times if t is not None])
    return values


def _concat(arrays: list[np.ndarray[Any, Any]]) -> np.ndarray[Any, Any]:
    if not arrays:
        return np.empty(0, dtype=np.float64)
    return np.concatenate([np.asarray(a, dtype=np.float64) for a in arrays])
