"""A lazy array seen with its axes in another order, still read window by window.

A trace series stores its traces as (trace, time) and shows them as (time,
trace); xarray's own lazy transposition turns windows into point-wise
indexing, which a windowed read cannot take. This wrapper maps each outer
indexer back onto the stored order instead. Imported only by code that
already needs xarray.
"""

from __future__ import annotations

from typing import Any

import numpy as np
from xarray.backends import BackendArray
from xarray.core import indexing


class TransposedArray(BackendArray):
    """`array` (a BackendArray read through outer indexers) with its axes in `order`."""

    def __init__(self, array: Any, order: tuple[int, ...]) -> None:
        self.array = array
        self.order = order
        self.shape = tuple(array.shape[axis] for axis in order)
        self.dtype = array.dtype

    def __getitem__(self, key: indexing.ExplicitIndexer) -> Any:
        return indexing.explicit_indexing_adapter(key, self.shape, indexing.IndexingSupport.OUTER, self._read)

    def _read(self, key: tuple[Any, ...]) -> Any:
        stored = [slice(None)] * len(self.order)
        for position, axis in enumerate(self.order):
            stored[axis] = key[position]
        values = np.asarray(self.array[indexing.OuterIndexer(tuple(stored))])
        # Integer keys drop their axis: transpose only the axes that remain.
        kept = [axis for axis in self.order if not isinstance(stored[axis], (int, np.integer))]
        return np.transpose(values, [sorted(kept).index(axis) for axis in kept])

    def __repr__(self) -> str:
        return f"TransposedArray({self.array!r}, order={self.order})"
