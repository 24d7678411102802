"""pandas tables of every result kind and of a Collection, named by the data model.

The wide layout has one row per spectrum (per map position, per time point of
a trace series, per file): the key columns first (``x, y`` of a map; ``time``
of a series; ``region, x, y, start_time`` of multi-region points; ``file`` and
the FileInfo fields of a Collection), then one column per spectral point,
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


def frame_of(table: FlatTable, layout: TableLayout | None = None,
             extra: dict[str, Any] | None = None) -> pandas.DataFrame:
    """A flat table as a DataFrame: wide (keys, then one column per x value or
    trace) or long (keys, axis, value). `extra` columns follow the keys."""
    pd = require("pandas", "pandas")
    chosen = table.layout.default_layout if layout is None else layout
    if chosen not in ("wide", "long"):
        raise ValueError(f"layout must be 'wide' or 'long', not {chosen!r}")
    keys = {**table.keys, **(extra or {})}
    if chosen == "long":
        width = table.shape[1]
        long = table.long_columns()
        columns = {name: long[name] for name in table.keys}
        columns.update({name: pd.Index(values).repeat(width) for name, values in (extra or {}).items()})
        columns.update({table.along: long[table.along], "value": long["value"]})
        frame: pandas.DataFrame = pd.DataFrame(columns, copy=False)
        return frame
    axis = table.axis.tolist() if table.axis.dtype == object else table.axis
    frame = pd.DataFrame(table.values, columns=pd.Index(axis), copy=False)
    # Inserting columns adds blocks beside the spectra's block; it does not copy it.
    for position, (name, column) in enumerate(keys.items()):
        frame.insert(position, name, column)
    return frame


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
    """One row per file of a Collection: ``file``, its FileInfo fields
    (FileInfo.as_dict() without the path), then one column per x value."""
    pd = require("pandas", "pandas")
    rows = [info.as_dict() for info in collection.info]
    names = [name for name in (rows[0] if rows else ()) if name != "path"]
    extra: dict[str, Any] = {name: [row[name] for row in rows] for name in names}
    if "acquired" in extra:
        extra["acquired"] = pd.to_datetime(extra["acquired"], utc=True)
    return frame_of(flat_table(collection), layout, extra)

