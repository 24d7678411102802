"""Results, Collections and flat tables as Parquet files, through pyarrow."""

from __future__ import annotations

import json
from typing import Any

import numpy as np

from kestrel_tools import model
from kestrel_tools._flat import FlatTable, flat_table
from kestrel_tools._optional import require
from kestrel_tools.export._files import PathLike, write_bytes
from kestrel_tools.export._table import Layout

# Key under which the table's origin is kept in the Parquet schema metadata.
METADATA_KEY = b"kestrel"


def write_parquet(data: Any, path: PathLike, *, layout: Layout | None = None) -> None:
    """Write a result, a Collection or a pandas DataFrame to `path` as Parquet.

    Results and Collections are laid out for columnar readers, under the
    column names of ``to_pandas``:

    - `layout="wide"` (the default, but for a single spectrum): one row per
      spectrum (map position, time point, file), the key columns (``x, y``;
      ``time``; ``region, x, y, start_time``; ``file``, ``block`` and the
      FileInfo fields, counts as int64 and times as UTC timestamps, null
      where missing), then ``value``, the
      row's values as a fixed-size list of float32. The spectral axis is
      stored once, as a fixed-size list of float64 in the first row of a
      column named after it (``wavenumber``, ...; ``trace`` holds the trace
      names); its other rows are null.
    - `layout="long"` (a single spectrum's default): one row per value, the
      key columns, the spectral axis (float64) or ``trace``, and ``value``
      (float32).

    Each column's unit is in its field metadata (``units``); the schema
    metadata ("kestrel", JSON) holds the kind, the block, the dimensions, the
    value's name and the parameters, not the values. A DataFrame (say, from
    ``to_pandas``) is written as it is. The file is built in memory, then
    written whole.

    >>> import kestrel, kestrel_tools, tempfile, pathlib, pyarrow.parquet as pq
    >>> s = kestrel.getOpusData(str(kestrel_tools.DEMO_FILE), ("TR", "3D", "NONE"))
    >>> out = pathlib.Path(tempfile.mkdtemp()) / "series.parquet"
    >>> write_parquet(s, out)
    >>> table = pq.read_table(out)
    >>> table.column_names, table.num_rows
    (['time', 'wavenumber', 'value'], 12)
    >>> table.column("wavenumber")[0].values.to_numpy().tolist() == s.x.tolist()
    True
    """
    pa = require("pyarrow", "parquet")
    pq = require("pyarrow.parquet", "parquet")
    if type(data).__name__ == "DataFrame" and hasattr(data, "to_parquet"):
        table = pa.Table.from_pandas(data)
    else:
        flat = flat_table(data)
        chosen = flat.layout.default_layout if layout is None else layout
        if chosen not in ("wide", "long"):
            raise ValueError(f"layout must be 'wide' or 'long', not {chosen!r}")
        table = (_wide_table(pa, flat) if chosen == "wide" else _long_table(pa, flat)).replace_schema_metadata(
            {METADATA_KEY: json.dumps(_description(data, flat, chosen), default=str).encode()})
    sink = pa.BufferOutputStream()
    pq.write_table(table, sink)
    write_bytes(path, sink.getvalue())


def _key_array(pa: Any, values: Any, kind: str) -> Any:
    """A key column as Arrow holds it, typed by the data model even when every
    value is missing: text as strings, counts as int64 and times as UTC
    timestamps (null where missing), other numbers as float64."""
    array = np.asarray(values)
    if kind == "text" or array.dtype == object:
        return pa.array([None if v is None else str(v) for v in array.tolist()], pa.string())
    if kind == "time":
        return pa.array(array.astype("datetime64[us]"), from_pandas=True).cast(pa.timestamp("us", tz="UTC"))
    if kind == "count":
        return pa.array(array, from_pandas=True).cast(pa.int64())
    return pa.array(array)


def _field(pa: Any, name: str, values: Any, flat: FlatTable) -> tuple[Any, Any]:
    """A column and its field, the field carrying the column's unit and label."""
    axis = flat.layout.coords.get(name)
    array = values if isinstance(values, pa.Array) else _key_array(pa, values, "number" if axis is None else axis.type)
    meta = {}
    if axis is not None:
        meta["long_name"] = axis.label
        if axis.unit:
            meta["units"] = axis.unit
    elif name == model.VALUE_COLUMN:
        meta = {"long_name": flat.layout.value.label, "y_kind": flat.layout.value.name}
    return array, pa.field(name, array.type, metadata=meta or None)


def _table(pa: Any, columns: dict[str, Any], flat: FlatTable) -> Any:
    arrays, fields = zip(*(_field(pa, name, values, flat) for name, values in columns.items()))
    return pa.Table.from_arrays(list(arrays), schema=pa.schema(list(fields)))


def _long_table(pa: Any, flat: FlatTable) -> Any:
    rows, width = flat.shape
    # Each key column is made once per row, then taken once per value.
    repeat = pa.array(np.repeat(np.arange(rows, dtype=np.int64), width))
    columns = {name: _field(pa, name, values, flat)[0].take(repeat) for name, values in flat.keys.items()}
    columns[flat.along] = pa.array(np.tile(flat.axis, rows).tolist() if flat.axis.dtype == object
                                   else np.tile(flat.axis, rows))
    columns[model.VALUE_COLUMN] = pa.array(np.ascontiguousarray(flat.values).reshape(-1))
    return _table(pa, columns, flat)


def _wide_table(pa: Any, flat: FlatTable) -> Any:
    rows, width = flat.shape
    values = pa.array(np.ascontiguousarray(flat.values, dtype=np.float32).reshape(-1), pa.float32())
    columns: dict[str, Any] = dict(flat.keys)
    if flat.axis.dtype == object:
        axis = pa.array([str(a) for a in flat.axis], pa.string())
    else:
        axis = pa.array(np.asarray(flat.axis, np.float64))
    # The axis once, in the first row; a table without rows has nowhere to keep it.
    first = _lists(pa, axis, 1, width)
    columns[flat.along] = pa.concat_arrays([first, pa.nulls(rows - 1, first.type)]) if rows else pa.nulls(0, first.type)
    columns[model.VALUE_COLUMN] = _lists(pa, values, rows, width)
    return _table(pa, columns, flat)


def _lists(pa: Any, flat_values: Any, rows: int, width: int) -> Any:
    """`rows` lists of `width` values each: fixed-size lists, or (Arrow has no
    fixed-size list of 0 values) empty variable-size lists."""
    if width:
        return pa.FixedSizeListArray.from_arrays(flat_values, width)
    return pa.ListArray.from_arrays(pa.array(np.zeros(rows + 1, np.int32)), flat_values)


def _description(data: Any, flat: FlatTable, layout: str) -> dict[str, Any]:
    description: dict[str, Any] = {"kind": flat.kind, "layout": layout, "dims": list(flat.layout.dims),
                                   "variable": flat.layout.variable, "y_kind": flat.layout.value.name}
    if flat.kind != "collection":
        description.update(block=[data.dataType, data.dimension, data.derivative], parameters=data.parameters)
    elif hasattr(data, "blocks"):
        description["blocks"] = [list(b) for b in data.blocks]
    return description
