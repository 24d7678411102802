"""pandas tables of every result kind and of a Collection, named by the data model.

The wide layout has one row per spectrum (per map position, per time point of
a trace series, per file): the key columns first (``x, y`` of a map; ``time``
of a series; ``region, x, y, start_time`` of multi-region points; ``file``,
``block`` and the FileInfo fields of a Collection), then one column per spectral point,
labelled by its x value (trace results: one column per trace, labelled by its
name). The long layout has one row per value: the key columns, the spectral
axis under its own name (``wavenumber``, ...) or ``trace``, and ``value``. A
single spectrum is long by default, everything else wide. The spectra go in
by a reshape of the result's array, without a copy where pandas allows it.

>>> import kestrel
>>> from kestrel_tools import DEMO_FILE, to_pandas
>>> frame = to_pandas(kestrel.getOpusData(str(DEMO_FILE), ("AB", "3D", "NONE")))
>>> frame.shape, list(frame.columns[:3])
((30, 202), ['x', 'y', 3100.0])
>>> list(to_pandas(kestrel.getOpusData(str(DEMO_FILE), ("AB", "2D", "NONE"))).columns)
['wavenumber', 'value']
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Literal

from kestrel_tools._flat import CollectionData, FlatTable, flat_table
from kestrel_tools._optional import require

if TYPE_CHECKING:
    import pandas

__all__ = ["collection_frame", "to_pandas"]

TableLayout = Literal["wide", "long"]


def frame_of(table: FlatTable, layout: TableLayout | None = None) -> pandas.DataFrame:
    """A flat table as a DataFrame: wide (keys, then one column per x value or
    trace) or long (keys, axis, value). Times are timezone-aware (UTC)."""
    pd = require("pandas", "pandas")
    chosen = table.layout.default_layout if layout is None else layout
    if chosen not in ("wide", "long"):
        raise ValueError(f"layout must be 'wide' or 'long', not {chosen!r}")
    if chosen == "long":
        long = table.long_columns()
        columns = {name: _column(pd, table, name, long[name]) for name in table.keys}
        columns.update({table.along: long[table.along], "value": long["value"]})
        frame: pandas.DataFrame = pd.DataFrame(columns, copy=False)
        return frame
    axis = table.axis.tolist() if table.axis.dtype == object else table.axis
    frame = pd.DataFrame(table.values, columns=pd.Index(axis), copy=False)
    # Inserting columns adds blocks beside the spectra's block; it does not copy it.
    for position, (name, column) in enumerate(table.keys.items()):
        frame.insert(position, name, _column(pd, table, name, column))
    return frame


def _column(pd: Any, table: FlatTable, name: str, values: Any) -> Any:
    """A key column for pandas: times made timezone-aware (UTC), the rest as they are."""
    axis = table.layout.coords.get(name)
    if axis is not None and axis.type == "time":
        return pd.to_datetime(values, utc=True)
    return values


def to_pandas(result: Any, layout: TableLayout | None = None) -> pandas.DataFrame:
    """A pandas DataFrame of any getOpusData result (see the module's text for the layouts).

    >>> import kestrel
    >>> from kestrel_tools import DEMO_REGIONS_FILE, to_pandas
    >>> frame = to_pandas(kestrel.getOpusData(str(DEMO_REGIONS_FILE), ("AB", "3D", "NONE")))
    >>> list(frame.columns[:4]), frame["region"].tolist()[::3]
    (['region', 'x', 'y', 'start_time'], ['Region 1 (2 x 2)', 'Region 1 (2 x 2)', 'Region 2 (3 points)'])
    """
    from kestrel_tools._layout import result_kind

    if result_kind(result) is None:
        raise TypeError(f"to_pandas takes a result of kestrel.getOpusData, not {type(result).__name__}")
    return frame_of(flat_table(result), layout)


def collection_frame(collection: CollectionData, layout: TableLayout | None = None) -> pandas.DataFrame:
    """One row per file of a Collection: ``file``, ``block``, its FileInfo fields
    (FileInfo.as_dict() without the path), then one column per x value."""
    return frame_of(flat_table(collection), layout)
