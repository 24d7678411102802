"""to_xarray: a result of `kestrel.getOpusData` as a labelled xarray DataArray."""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any

from kestrel_tools import model

from kestrel_tools._flat import CollectionData, flat_table
from kestrel_tools._layout import plan_of_result
from kestrel_tools._optional import require
from kestrel_tools.xarray_backend.labels import axis_attributes, labels_of
from kestrel_tools.xarray_backend.source import acquisition, file_path

if TYPE_CHECKING:
    import xarray


def to_xarray(result: object, *, path: str | os.PathLike[str] | None = None) -> xarray.DataArray:
    """The result as a DataArray with its coordinates, units and parameters.

    A spectrum runs along its x axis, named from the unit (wavenumber,
    wavelength, ...); an image map along (y, x, wavenumber) with the map
    coordinates (in um); a trace map along (y, x, trace) with the trace names; a
    time-resolved series along (time, wavenumber); a trace series along
    (time, trace), time first like a series; a multi-region map along (point, wavenumber) with each
    point's region, x, y and start time as coordinates, so ``groupby("region")``
    works. The attributes hold the scalar parameters under their keys, the
    block ("AB 3D NONE"), the acquisition time (ISO 8601) when the parameters
    tell it, and the source file when `path` is given. The array shares memory
    with the result.

    >>> import kestrel
    >>> from kestrel_tools import DEMO_FILE
    >>> m = kestrel.getOpusData(str(DEMO_FILE), ("AB", "3D", "NONE"))
    >>> cube = to_xarray(m, path=DEMO_FILE)
    >>> cube.dims, cube.wavenumber.attrs["units"], cube.attrs["block"]
    (('y', 'x', 'wavenumber'), 'cm-1', 'AB 3D NONE')
    >>> float(cube.sel(x=-200.0, y=50.0)[0]) == float(m.spectra[1, 1, 0])
    True
    """
    xr = require("xarray", "xarray")
    plan, data = plan_of_result(result)
    block = (str(getattr(result, "dataType")), str(getattr(result, "dimension")), str(getattr(result, "derivative")))
    source = None if path is None else file_path(path)
    labels = labels_of(plan, block, source, acquisition(plan["parameters"]))
    if labels.order is not None:
        data = data.transpose(labels.order)  # a view
    coords = {name: xr.Variable(c.dims, c.values, c.attrs) for name, c in labels.coords.items()}
    array: xarray.DataArray = xr.DataArray(data, dims=labels.dims, coords=coords, name=labels.name,
                                           attrs=labels.attrs)
    return array


def collection_array(collection: CollectionData) -> xarray.DataArray:
    """A Collection as a DataArray of dims ("file", the spectral axis); the
    block and the FileInfo fields are coordinates along "file", typed and
    labelled as the data model says (times as datetime64 in UTC)."""
    xr = require("xarray", "xarray")
    table = flat_table(collection)
    layout = table.layout
    spectral = layout.spectral_dim or model.UNKNOWN_DIM
    coords: dict[str, Any] = {
        spectral: (spectral, table.axis, axis_attributes(layout.coords[spectral])),
        **{name: ("file", values, axis_attributes(layout.coords[name])) for name, values in table.keys.items()},
    }
    data: xarray.DataArray = xr.DataArray(table.values, dims=layout.dims, coords=coords,
                                          name=layout.variable, attrs={"long_name": layout.value.label,
                                                                       "y_kind": layout.value.name})
    return data
