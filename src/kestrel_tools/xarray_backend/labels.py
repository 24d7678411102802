"""Names, coordinates and attributes of a block's labelled array, worked out
from its plan: the same for an eager result and for a lazily opened file.

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

from kestrel_tools._layout import Kind, Plan

# DXU value -> (dimension name, units). The x axis of a spectrum or a trace.
X_UNITS: dict[str, tuple[str, str]] = {
    "WN": ("wavenumber", "cm-1"),
    "MI": ("wavelength", "um"),
    "NM": ("wavelength", "nm"),
    "LGW": ("log_wavenumber", "log(cm-1)"),
    "HZ": ("frequency", "Hz"),
    "MIN": ("time", "min"),
    "SEC": ("time", "s"),
    "MSC": ("time", "ms"),
    "PNT": ("data_point", "1"),
}

# The name of the data variable for each kind, after the result attribute it mirrors.
VARIABLE_NAMES: dict[Kind, str] = {
    "spectrum": "spectrum",
    "image_map": "spectra",
    "trace_map": "traces",
    "series": "spectra",
    "trace_series": "traces",
    "multi_region": "spectra",
    "multi_region_trace": "traces",
}

Attrs = dict[str, str | int | float]


@dataclass
class Coordinate:
    """One coordinate: the dimensions it runs along, its values, its attributes."""

    dims: tuple[str, ...]
    values: np.ndarray[Any, Any]
    attrs: Attrs = field(default_factory=dict)


@dataclass
class Labels:
    """Everything about a block's array except its values."""

    name: str
    dims: tuple[str, ...]
    coords: dict[str, Coordinate]
    attrs: Attrs


def spectral_axis(parameters: Mapping[str, Any]) -> tuple[str, str]:
    """The dimension name and units of the x axis, from the parameter DXU."""
    unit = parameters.get("DXU")
    if isinstance(unit, str) and unit.strip().upper() in X_UNITS:
        return X_UNITS[unit.strip().upper()]
    return "abscissa", unit.strip() if isinstance(unit, str) else ""


def axis_attributes(axis: str, units: str) -> Attrs:
    """The attributes of the spectral axis coordinate: its long name, and its units when known."""
    attrs: Attrs = {"long_name": axis.replace("_", " ")}
    if units:
        attrs["units"] = units
    return attrs


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

    Maps run along (y, x, ...), series along time, multi-region blocks along
    point with the region, x, y (and start time) of every point as coordinates;
    the x axis of the spectra is named from its unit and moves aside
    ("spectral_time") when that name is taken.
    """
    kind = plan["kind"]
    parameters = plan["parameters"]
    leading: dict[Kind, tuple[str, ...]] = {
        "spectrum": (), "image_map": ("y", "x"), "trace_map": ("y", "x"), "series": ("time",),
        "trace_series": ("trace",), "multi_region": ("point",), "multi_region_trace": ("point",)}
    dims = leading[kind]
    coords: dict[str, Coordinate] = {}
    if kind in ("trace_map", "multi_region_trace"):
        dims += ("trace",)
    else:
        axis, units = spectral_axis(parameters)
        if axis in dims:
            axis = "spectral_" + axis
        dims += (axis,)
        coords[axis] = Coordinate((axis,), np.asarray(plan["x"], dtype=np.float64), axis_attributes(axis, units))
    if "labels" in plan:
        coords["trace"] = Coordinate(("trace",), _strings(list(plan["labels"])))
    if kind in ("image_map", "trace_map"):
        coords["y"] = Coordinate(("y",), np.asarray(plan["mapY"], dtype=np.float64))
        coords["x"] = Coordinate(("x",), np.asarray(plan["mapX"], dtype=np.float64))
    if kind == "series":
        unit = parameters.get("ZTX")
        coords["time"] = Coordinate(("time",), np.asarray(plan["z"], dtype=np.float64),
                                    {"units": unit} if isinstance(unit, str) and unit else {})
    if "regions" in plan:
        coords.update(_region_coords(plan))
    return Labels(VARIABLE_NAMES[kind], dims, coords, attributes(parameters, block, path, acquired))


def _region_coords(plan: Plan) -> dict[str, Coordinate]:
    """Per point of the stacked regions: its region's title, its x and y, and its start time."""
    regions = plan["regions"]
    titles = [region["title"] for region in regions for _ in range(region["start"], region["stop"])]
    coords = {
        "region": Coordinate(("point",), _strings(titles)),
        "x": Coordinate(("point",), _concat([region["mapX"] for region in regions])),
        "y": Coordinate(("point",), _concat([region["mapY"] for region in regions])),
    }
    times = [region["start_time"] for region in regions]
    if plan["kind"] == "multi_region" and all(t is not None for t in times):
        coords["start_time"] = Coordinate(("point",), _concat([t for t in times if t is not None]))
    return coords


def _concat(arrays: list[np.ndarray[Any, Any]]) -> np.ndarray[Any, Any]:
    if not arrays:
        return np.empty(0, dtype=np.float64)
    return np.concatenate([np.asarray(a, dtype=np.float64) for a in arrays])
