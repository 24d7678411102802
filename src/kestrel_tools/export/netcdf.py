"""Results and Collections as netCDF-4 files, through xarray and h5netcdf."""

from __future__ import annotations

import datetime as dt
import json
from typing import Any

import numpy as np

from kestrel_tools._optional import require
from kestrel_tools._flat import is_collection
from kestrel_tools.export._files import PathLike, write_bytes


def write_netcdf(data: Any, path: PathLike) -> None:
    """Write a result, a Collection or an xarray Dataset to `path` as netCDF-4.

    Every kind of result is written as ``to_xarray`` labels it: the same
    dimensions, coordinates (the spectral axis, the map's x and y, time, the
    trace names, the region of each point) with their units, and the
    parameters as attributes; read it back with ``xarray.open_dataset(path)``.
    The file is built in memory, then written whole.
    Attribute values netCDF cannot hold (None, booleans, nested containers,
    datetimes) are stored as text; a dict attribute as JSON.

    >>> import kestrel, kestrel_tools, tempfile, pathlib, xarray
    >>> m = kestrel.getOpusData(str(kestrel_tools.DEMO_FILE), ("AB", "3D", "NONE"))
    >>> out = pathlib.Path(tempfile.mkdtemp()) / "map.nc"
    >>> write_netcdf(m, out)
    >>> with xarray.open_dataset(out) as ds:
    ...     ds["spectra"].shape
    (5, 6, 200)
    """
    xr = require("xarray", "netcdf")
    require("h5netcdf", "netcdf")
    require("h5py", "netcdf")  # the HDF5 library under h5netcdf
    dataset = _storable(data if isinstance(data, xr.Dataset) else dataset_of(data))
    # Built in memory and written by our own code: a full disk or a file-size
    # limit is then an OSError here, never a failure inside the HDF5 library
    # (whose error path on a failed write can end the process).
    write_bytes(path, dataset.to_netcdf(None, engine="h5netcdf", invalid_netcdf=False))


def dataset_of(data: Any) -> Any:
    """The Dataset that `write_netcdf` stores for a result or a Collection: its
    labelled array (``to_xarray``) as the one data variable, the array's
    attributes the file's too."""
    if is_collection(data):
        labelled = data.to_xarray()
    else:
        from kestrel_tools.xarray_backend.convert import to_xarray

        labelled = to_xarray(data)
    dataset = labelled.to_dataset()
    dataset.attrs.update(labelled.attrs)
    return dataset


def _storable(dataset: Any) -> Any:
    """A copy whose attributes and object-typed text variables netCDF accepts."""
    dataset = dataset.copy(deep=False)
    dataset.attrs = _attrs(dataset.attrs)
    for name in list(dataset.variables):
        variable = dataset[name].variable
        variable.attrs = _attrs(variable.attrs)
        if variable.dtype == object:
            # Object arrays of text become variable-length strings; a missing text (None, or
            # the NaN xarray puts in its place) becomes "", never the text "nan".
            dataset[name] = variable.copy(data=np.array(
                ["" if v is None or (isinstance(v, float) and v != v) else str(v)
                 for v in variable.values.reshape(-1)], dtype=object,
            ).reshape(variable.shape))
    return dataset


def _attrs(attrs: dict[Any, Any]) -> dict[str, Any]:
    return {str(key): _attr_value(value) for key, value in attrs.items()}


def _attr_value(value: Any) -> Any:
    if isinstance(value, bool) or value is None:
        return str(value)
    if isinstance(value, (str, int, float, np.number)):
        return value
    if isinstance(value, (dt.datetime, dt.date)):
        return value.isoformat()
    if isinstance(value, np.ndarray) and value.dtype.kind in "fiu":
        return value
    if isinstance(value, (list, tuple)) and all(isinstance(v, str) for v in value):
        return list(value)
    if isinstance(value, (list, tuple)) and value and all(
            isinstance(v, (int, float)) and not isinstance(v, bool) for v in value):
        return np.asarray(value)
    if isinstance(value, dict):
        return json.dumps(value, default=str)
    return str(value)
