"""Every result kind and a Collection as one flat table, named by the data model:
key columns that say where a row was measured, and a matrix of values along
the spectral axis (or along the traces).

pandas, CSV and Parquet all write these tables, so they agree column for column.

>>> import kestrel, kestrel_tools
>>> t = flat_table(kestrel.getOpusData(str(kestrel_tools.DEMO_FILE), ("AB", "3D", "NONE")))
>>> list(t.keys), t.along, t.shape, t.layout.long_columns
(['x', 'y'], 'wavenumber', (30, 200), ('x', 'y', 'wavenumber', 'value'))
"""

from __future__ import annotations

import dataclasses
from collections.abc import Sequence
from datetime import datetime, timezone
from typing import TYPE_CHECKING, Any, Protocol

import numpy as np
from numpy.typing import NDArray

from kestrel_tools import model
from kestrel_tools._layout import coordinate_values, plan_of_result, result_kind
from kestrel_tools.byte_sources import source_name

if TYPE_CHECKING:
    from kestrel_tools.metadata import FileInfo

Array = NDArray[Any]


class CollectionData(Protocol):
    """What the outputs of a Collection read of it: the shared x axis, one row
    of spectra per file, the files and their FileInfo."""

    x: Any
    spectra: Any
    files: list[str]

    @property
    def info(self) -> Sequence[FileInfo]: ...


def is_collection(data: Any) -> bool:
    """A Collection (spectra of many files) rather than one result."""
    return all(hasattr(data, name) for name in ("x", "spectra", "files")) and not hasattr(data, "dataType")


def kind_of(data: Any) -> model.ResultKind:
    """The kind of a result ("spectrum", "image_map", ...), or "collection".

    Subclasses of the result classes count as their base.
    """
    if is_collection(data):
        return "collection"
    kind = result_kind(data)
    if kind is not None:
        return kind
    raise TypeError(f"expected a kestrel result or a Collection, got {type(data).__name__}")


def layout_of_data(data: Any) -> model.Layout:
    """The data model's layout of a result or a Collection."""
    kind = kind_of(data)
    if kind == "collection":
        return model.layout_of(kind, collection_parameters(data), _first(getattr(data, "blocks", [])))
    return model.layout_of(kind, data.parameters, str(data.dataType))


def collection_parameters(data: Any) -> dict[str, Any]:
    """The parameters that name a Collection's axes: those of its first file,
    from its FileInfo when already read, else read from the file (its plan, not
    its values); empty when there is no file or it cannot be read now."""
    own = getattr(data, "parameters", None)
    if isinstance(own, dict):
        return dict(own)
    cached = getattr(data, "_info", None)
    if cached:
        return dict(cached[0].parameters)
    if not len(data.files) or not getattr(data, "blocks", None):
        return {}
    from kestrel_tools import metadata

    try:
        return dict(metadata.read_parameters(str(data.files[0]), tuple(data.blocks[0])))
    except (OSError, ValueError, KeyError, IndexError, TypeError, MemoryError):
        return {}


def _first(blocks: list[Any]) -> str | None:
    return str(blocks[0][0]) if blocks else None


@dataclasses.dataclass(frozen=True)
class FlatTable:
    """Rows of values along one axis, with key columns per row.

    `axis` holds the value columns' coordinates: float64 x values, or the trace
    labels (str) when `along` is "trace". `values` has one row per table row.
    """

    keys: dict[str, Array]
    along: str
    axis: Array
    values: Array
    layout: model.Layout

    @property
    def kind(self) -> model.ResultKind:
        return self.layout.kind

    @property
    def shape(self) -> tuple[int, int]:
        return (self.values.shape[0], self.values.shape[1])

    def long_columns(self) -> dict[str, Array]:
        """The table in long form: the key columns repeated per value, then the axis and the value."""
        rows, width = self.shape
        columns = {name: np.repeat(values, width) for name, values in self.keys.items()}
        columns[self.along] = np.tile(self.axis, rows)
        columns[model.VALUE_COLUMN] = self.values.reshape(-1)
        return columns


def flat_table(data: Any) -> FlatTable:
    """The table of a result or a Collection (no copy of the values where a view does).

    Key columns, in order: none for a spectrum; ``x, y`` for maps; ``time`` for
    series and trace series (one row per time point); ``region, x, y`` and
    ``start_time`` for multi-region maps; for a Collection ``file``, ``block``
    and the FileInfo fields (see `collection_keys`). Rows run along the kind's
    dimensions in order (a map row after a map row).
    """
    layout = layout_of_data(data)
    if layout.kind == "collection":
        return FlatTable(collection_keys(data, layout), layout.along, np.asarray(data.x, dtype=np.float64),
                         np.asarray(data.spectra), layout)
    plan, stored = plan_of_result(data)
    values = coordinate_values(plan, layout)
    array = stored.transpose([layout.stored_dims.index(d) for d in layout.dims])  # a view
    lead = [d for d in layout.dims if d != layout.along]
    sizes = array.shape[:-1]
    rows = int(np.prod(sizes, dtype=np.int64))
    matrix = array.reshape(rows, array.shape[-1])
    keys = {}
    for name in layout.wide_keys:
        if name not in values:  # a region field some region lacks
            keys[name] = np.full(rows, np.nan)
            continue
        # A coordinate runs along some of the leading dims: repeat it over the others.
        shape = [sizes[i] if d in layout.coords[name].dims else 1 for i, d in enumerate(lead)]
        keys[name] = np.broadcast_to(values[name].reshape(shape), sizes).reshape(rows)
    return FlatTable(keys, layout.along, values.get(layout.along, np.empty(0)), matrix, layout)


def collection_keys(data: Any, layout: model.Layout) -> dict[str, Array]:
    """The key columns of a Collection, in the data model's order and types: the
    file (its path or URL; "<bytes of 2048 bytes>" for a buffer), the block
    read from it ("AB 2D NONE"), then the fields of each row's FileInfo (read
    on first use); see `typed_column` for the types.

    An object that lacks the blocks or the FileInfo of its rows (a table built
    by hand) gets those columns all missing.
    """
    rows = len(data.files)
    info: list[dict[str, Any]] | None = None
    keys: dict[str, Array] = {}
    for name in layout.wide_keys:
        axis = layout.coords[name]
        raw: Sequence[Any]
        if axis.source == "files":
            raw = [source_name(f) for f in data.files]  # a buffer is named, not spelled out
        elif axis.source == "blocks":
            blocks = getattr(data, "blocks", None)
            raw = [" ".join(b) for b in blocks] if blocks is not None and len(blocks) == rows else [None] * rows
        else:
            if info is None:
                given = list(getattr(data, "info", None) or [])
                info = [i.as_dict() for i in given] if len(given) == rows else [{}] * rows
            raw = [row.get(name) for row in info]
        keys[name] = typed_column(raw, axis.type)
    return keys


def typed_column(values: Sequence[Any], kind: model.ValueType) -> Array:
    """A column of Python values (None where missing) as the array its type gives.

    Text: an object array of str, None where missing. Numbers: float64, NaN
    where missing. Counts: int64, or float64 with NaN when some are missing.
    Times: datetime64[us] in UTC (numpy's have no zone), NaT where missing.

    >>> typed_column([128, None], "count").tolist(), typed_column([2, 4], "count").dtype.name
    ([128.0, nan], 'int64')
    >>> from datetime import datetime, timedelta, timezone
    >>> t = datetime(2026, 12, 9, 10, 0, tzinfo=timezone(timedelta(hours=1)))
    >>> typed_column([t, None], "time").astype(str).tolist()
    ['2026-12-09T09:00:00.000000', 'NaT']
    """
    if kind == "time":
        return np.array([np.datetime64("NaT", "us") if v is None else
                         np.datetime64(_utc(v).replace(tzinfo=None), "us") for v in values], dtype="datetime64[us]")
    if kind == "count" and all(v is not None for v in values):
        return np.array(values, dtype=np.int64)
    if kind in ("number", "count"):
        return np.array([np.nan if v is None else float(v) for v in values], dtype=np.float64)
    return np.array([None if v is None else str(v) for v in values], dtype=object)


def _utc(value: datetime) -> datetime:
    """A datetime in UTC; one without a zone is taken as UTC already."""
    return value if value.tzinfo is None else value.astimezone(timezone.utc)
