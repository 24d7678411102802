"""Results and Collections as CSV whose numbers read back to the very same values."""

from __future__ import annotations

from collections.abc import Iterator
from typing import Any

import numpy as np

from kestrel_tools.export._files import PathLike, replacing
from kestrel_tools.export._table import FlatTable, Layout, flat_table
from kestrel_tools.export._text import csv_field, shortest_text, text_column

# Rows are converted to text in slices of about this many values, to bound memory.
_CHUNK_VALUES = 1 << 20


def write_csv(data: Any, path: PathLike, *, layout: Layout | None = None) -> None:
    """Write a result or a Collection to `path` as CSV.

    The columns are those of ``to_pandas``. `layout="wide"` writes one
    spectrum (one map position, one time point, one file) per row: the key
    columns first (``file``, ``block`` and the FileInfo fields for a
    Collection, a missing one an empty field; ``x, y`` for maps; ``time`` for
    series and trace series; ``region, x, y, start_time`` for multi-region
    maps), then one column per x value, headed by that x value (by the trace
    name for trace results). `layout="long"` writes one value per row: the key
    columns, the spectral axis under its own name (``wavenumber``, ...) or
    ``trace``, and ``value``. By default a single spectrum is written long (two
    columns, ``wavenumber,value``), everything else wide.

    Every number is written in its shortest exact form: float32 values read back
    as the same float32, x values as the same float64.

    >>> import kestrel, kestrel_tools, tempfile, pathlib
    >>> r = kestrel.getOpusData(str(kestrel_tools.DEMO_FILE), ("AB", "2D", "NONE"))
    >>> out = pathlib.Path(tempfile.mkdtemp()) / "demo.csv"
    >>> write_csv(r, out)
    >>> out.read_text().splitlines()[:2]
    ['wavenumber,value', '3999.6,0.02']
    """
    lines = csv_lines(data, layout=layout)
    with replacing(path) as temporary, open(temporary, "w", encoding="utf-8", newline="") as out:
        for block in lines:
            out.write(block)


def csv_lines(data: Any, *, layout: Layout | None = None) -> Iterator[str]:
    """The text of `write_csv`, in slices of many lines each (for a stream such as standard output).

    >>> import kestrel, kestrel_tools
    >>> r = kestrel.getOpusData(str(kestrel_tools.DEMO_FILE), ("AB", "2D", "NONE"))
    >>> "".join(csv_lines(r)).splitlines()[:2]
    ['wavenumber,value', '3999.6,0.02']
    """
    table = flat_table(data)
    if layout is None:
        layout = table.layout.default_layout
    if layout not in ("wide", "long"):
        raise ValueError(f"layout must be 'wide' or 'long', not {layout!r}")
    return _wide_lines(table) if layout == "wide" else _long_lines(table)


def _kind(table: FlatTable, name: str) -> str:
    """The data model's type of a key column."""
    axis = table.layout.coords.get(name)
    return "number" if axis is None else axis.type


def _axis_text(table: FlatTable) -> list[str]:
    text = text_column(table.axis) if table.axis.dtype == object else shortest_text(table.axis)
    return [str(t) for t in text.tolist()]


def _wide_lines(table: FlatTable) -> Iterator[str]:
    rows, width = table.shape
    yield ",".join([csv_field(name) for name in table.keys] + _axis_text(table)) + "\n"
    step = max(1, _CHUNK_VALUES // max(1, width))
    for start in range(0, rows, step):
        stop = min(rows, start + step)
        keys = [text_column(column[start:stop], _kind(table, name)).tolist() for name, column in table.keys.items()]
        values = shortest_text(table.values[start:stop]).tolist()
        yield "".join(",".join([key[i] for key in keys] + row) + "\n" for i, row in enumerate(values))


def _long_lines(table: FlatTable) -> Iterator[str]:
    rows, width = table.shape
    names = [*table.keys, table.along, "value"]
    yield ",".join(csv_field(name) for name in names) + "\n"
    # The keys of a row and the x values are formatted once and repeated as text;
    # only the values themselves are formatted per line.
    prefix: np.ndarray = np.full(rows, "", dtype=np.dtypes.StringDType())
    for name, column in table.keys.items():
        prefix = np.strings.add(prefix, np.strings.add(text_column(column, _kind(table, name)), ","))
    axis = np.strings.add(np.array(_axis_text(table), dtype=np.dtypes.StringDType()), ",")
    step = max(1, _CHUNK_VALUES // max(1, width))
    for start in range(0, rows if width else 0, step):
        stop = min(rows, start + step)
        left = np.strings.add(np.repeat(prefix[start:stop], width), np.tile(axis, stop - start))
        line = np.strings.add(left, shortest_text(table.values[start:stop]).reshape(-1))
        yield "\n".join(line.tolist()) + "\n"
