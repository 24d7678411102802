"""Results, Collections and flat tables as Parquet files, through pyarrow."""

from __future__ import annotations

import json
from typing import Any

import numpy as np

from kestrel_tools._optional import require
from kestrel_tools.export._files import PathLike, replacing
from kestrel_tools.export._table import FlatTable, Layout, flat_table, long_columns
from kestrel_tools.export._text import shortest_text
from kestrel_tools.export._units import x_unit, y_kind

# Key under which the table's origin is kept in the Parquet schema metadata.
METADATA_KEY = b"kestrel"


def write_parquet(data: Any, path: PathLike, *, layout: Layout = "wide") -> None:
    """Write a result, a Collection or a pandas DataFrame to `path` as Parquet.

    Results and Collections give the tables that `write_csv` writes: with
    `layout="wide"` the key columns (``file``; ``map_y, map_x``; ``z``; ``region,
    map_x, map_y, start_time``; ``trace``) and one float32 column per x value,
    named by the x value in its shortest exact form (by the label for trace
    maps); with `layout="long"` the key columns, ``x`` (float64) or ``trace``, and
    ``value`` (float32). The x axis in full, the block and the parameters are
    kept as JSON in the schema metadata under "kestrel". A DataFrame (say, from
    ``to_pandas``) is written as it is.

    >>> import kestrel, kestrel_tools, tempfile, pathlib, pyarrow.parquet as pq
    >>> s = kestrel.getOpusData(str(kestrel_tools.DEMO_FILE), ("TR", "3D", "NONE"))
    >>> out = pathlib.Path(tempfile.mkdtemp()) / "series.parquet"
    >>> write_parquet(s, out, layout="long")
    >>> pq.read_table(out).column_names
    ['z', 'x', 'value']
    """
    pa = require("pyarrow", "parquet")
    pq = require("pyarrow.parquet", "parquet")
    if type(data).__name__ == "DataFrame" and hasattr(data, "to_parquet"):
        table = pa.Table.from_pandas(data)
    else:
        if layout not in ("wide", "long"):
            raise ValueError(f"layout must be 'wide' or 'long', not {layout!r}")
        flat = flat_table(data)
        table = _arrow_table(pa, flat, layout).replace_schema_metadata(
            {METADATA_KEY: json.dumps(_description(data, flat), default=str).encode()})
    with replacing(path) as temporary:
        pq.write_table(table, temporary)


def _arrow_table(pa: Any, flat: FlatTable, layout: Layout) -> Any:
    if layout == "long":
        columns = long_columns(flat)
    else:
        columns = dict(flat.keys)
        names = shortest_text(flat.axis).tolist() if flat.axis_name == "x" else [str(a) for a in flat.axis]
        if len(set(names)) != len(names) or set(names) & set(columns):
            raise ValueError("the column names of a wide table repeat; write it with layout='long'")
        # One column per x value: views of the matrix, copied once by pyarrow.
        columns.update(zip(names, np.asarray(flat.values).T))
    arrays = {name: pa.array(values.tolist() if values.dtype == object else values)
              for name, values in columns.items()}
    return pa.table(arrays)


def _description(data: Any, flat: FlatTable) -> dict[str, Any]:
    description: dict[str, Any] = {"kind": flat.kind, "axis": flat.axis_name, "x": np.asarray(data.x).tolist()}
    if flat.kind != "collection":
        description.update(block=[data.dataType, data.dimension, data.derivative],
                           x_unit=x_unit(data.parameters.get("DXU")).label,
                           y_kind=y_kind(data.dataType).label, parameters=data.parameters)
    elif hasattr(data, "blocks"):
        description["blocks"] = [list(b) if isinstance(b, tuple) else b for b in data.blocks]
    return description
