"""pandas tables of every result kind.

A single spectrum gives the columns x and y. Maps, series and multi-region maps
give one row per spectrum: coordinate columns first (x and y of the map; time
for a series; region, x, y and start_time for multi-region points), then one
column per spectral point, labelled by its x value (trace results: one column
per trace, labelled by the trace name). The spectra go in by a reshape of the
result's array, without a copy where pandas allows it (multi-region regions are
stacked once).

>>> import kestrel
>>> from kestrel_tools import DEMO_FILE, to_pandas
>>> frame = to_pandas(kestrel.getOpusData(str(DEMO_FILE), ("AB", "3D", "NONE")))
>>> frame.shape, list(frame.columns[:3])
((30, 202), ['x', 'y', 3100.0])
"""

from __future__ import annotations

from collections.abc import Callable
from typing import TYPE_CHECKING, Any

import numpy as np

from kestrel_tools._layout import Kind, result_kind
from kestrel_tools._optional import require

if TYPE_CHECKING:
    import pandas

    from kestrel_tools.collection import Collection

__all__ = ["collection_frame", "to_pandas"]


def _frame(values: Any, columns: Any, coords: dict[str, Any]) -> pandas.DataFrame:
    pd = require("pandas", "pandas")
    frame: pandas.DataFrame = pd.DataFrame(values, columns=pd.Index(columns), copy=False)
    # Inserting columns adds blocks beside the spectra's block; it does not copy it.
    for position, (name, column) in enumerate(coords.items()):
        frame.insert(position, name, column)
    return frame


def _single(r: Any) -> pandas.DataFrame:
    pd = require("pandas", "pandas")
    frame: pandas.DataFrame = pd.DataFrame({"x": r.x, "y": r.y}, copy=False)
    return frame


def _map_coords(r: Any) -> dict[str, Any]:
    rows, cols = len(r.mapY), len(r.mapX)
    return {"x": np.tile(np.asarray(r.mapX), rows), "y": np.repeat(np.asarray(r.mapY), cols)}


def _image(r: Any) -> pandas.DataFrame:
    cube = np.asarray(r.spectra)
    return _frame(cube.reshape(-1, cube.shape[-1]), r.x, _map_coords(r))


def _image_traces(r: Any) -> pandas.DataFrame:
    cube = np.asarray(r.traces)
    return _frame(cube.reshape(-1, cube.shape[-1]), list(r.labels), _map_coords(r))


def _series(r: Any) -> pandas.DataFrame:
    return _frame(np.asarray(r.spectra), r.x, {"time": np.asarray(r.z)})


def _series_traces(r: Any) -> pandas.DataFrame:
    # traces[i] runs along x, so a row is one point of x (a time) and a column one trace.
    return _frame(np.asarray(r.traces).T, list(r.labels), {"time": np.asarray(r.x)})


def _regions(r: Any, columns: Any, with_time: bool) -> pandas.DataFrame:
    regions = list(r.regions)
    counts = [len(g.spectra) for g in regions]
    width = len(columns)
    values = (np.concatenate([np.asarray(g.spectra).reshape(-1, width) for g in regions])
              if regions else np.empty((0, width), np.float32))
    coords: dict[str, Any] = {
        "region": np.repeat(np.array([g.title for g in regions], dtype=object), counts),
        "x": np.concatenate([np.asarray(g.mapX, dtype=np.float64) for g in regions]) if regions else [],
        "y": np.concatenate([np.asarray(g.mapY, dtype=np.float64) for g in regions]) if regions else [],
    }
    if with_time:
        coords["start_time"] = (np.concatenate([np.asarray(g.start_time, dtype=np.float64) for g in regions])
                                if regions else [])
    return _frame(values, columns, coords)


def _multi_region(r: Any) -> pandas.DataFrame:
    return _regions(r, r.x, with_time=True)


def _multi_region_traces(r: Any) -> pandas.DataFrame:
    return _regions(r, list(r.labels), with_time=False)


_BUILDERS: dict[Kind, Callable[[Any], pandas.DataFrame]] = {
    "spectrum": _single,
    "image_map": _image,
    "trace_map": _image_traces,
    "series": _series,
    "trace_series": _series_traces,
    "multi_region": _multi_region,
    "multi_region_trace": _multi_region_traces,
}


def to_pandas(result: Any) -> pandas.DataFrame:
    """A pandas DataFrame of any getOpusData result (see the module's text for the layout).

    >>> import kestrel
    >>> from kestrel_tools import DEMO_REGIONS_FILE, to_pandas
    >>> frame = to_pandas(kestrel.getOpusData(str(DEMO_REGIONS_FILE), ("AB", "3D", "NONE")))
    >>> list(frame.columns[:4]), frame["region"].tolist()[::3]
    (['region', 'x', 'y', 'start_time'], ['Region 1 (2 x 2)', 'Region 1 (2 x 2)', 'Region 2 (3 points)'])
    """
    kind = result_kind(result)
    if kind is None:
        raise TypeError(f"to_pandas takes a result of kestrel.getOpusData, not {type(result).__name__}")
    return _BUILDERS[kind](result)


def collection_frame(collection: Collection) -> pandas.DataFrame:
    """One row per file of a Collection: its FileInfo.as_dict() columns, then one column per x value."""
    pd = require("pandas", "pandas")
    rows = [info.as_dict() for info in collection.info]
    names = list(rows[0]) if rows else ["path"]
    coords = {name: [row[name] for row in rows] for name in names}
    if "acquired" in coords:
        coords["acquired"] = pd.to_datetime(coords["acquired"], utc=True)
    return _frame(collection.spectra, collection.x, coords)
