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
from kestrel_tools._layout import Plan, coordinate_values

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


# The attributes a dataset carries itself (the rest go with its data variable):
# the block, the source file and the acquisition time that `attributes` adds.
FILE_ATTRS = ("block", "source", "acquired", "acquired_from")


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


def labels_of(plan: Plan, block: tuple[str, str, str], path: str | None, acquired: Mapping[str, str]) -> Labels:
    """Dimensions, coordinates and attributes of the block that `plan` describes.

    Dimensions, coordinate names, units and where their values come from are
    the data model's: maps run along (y, x, ...), series and trace series along
    (time, ...), multi-region blocks along point with the region, x, y (and
    start time) of every point as coordinates; the spectral axis is named from
    its unit.
    """
    layout = model.layout_of(plan["kind"], plan["parameters"], block[0])
    values = coordinate_values(plan, layout)
    coords = {name: Coordinate(axis.dims, values[name], axis_attributes(axis))
              for name, axis in layout.coords.items() if name in values}
    attrs = attributes(plan["parameters"], block, path, acquired)
    attrs.update(value_attributes(layout))
    return Labels(layout.variable, layout.dims, coords, attrs, layout.stored_dims)
