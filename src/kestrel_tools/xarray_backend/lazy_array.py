"""The lazy array behind a Dataset opened with the kestrel engine: indexing it
reads one window of the file, never the whole block.

It holds the path, the block, the shape and the identity of the file when it
was opened (device, inode, size, modification and change times), no open file,
so it pickles and each Dask task reads its own chunk wherever it runs. A read
that finds another file under the path (replaced or rewritten since) raises
OSError "<path>: the file changed since it was opened" instead of mixing the
new file's values into the old file's coordinates. Imported only by code that
already needs xarray.
"""

from __future__ import annotations

from typing import Any

import numpy as np
from numpy.typing import NDArray
from xarray.backends import BackendArray
from xarray.core import indexing

from kestrel_tools import _windows
from kestrel_tools._layout import MULTI_REGION_KINDS
from kestrel_tools.byte_sources import Source, StorageOptions, naming_source, source_name
from kestrel_tools.xarray_backend.source import Block
from kestrel_tools.xarray_backend.windowing import pick, window_of


class KestrelBackendArray(BackendArray):
    """The main array of one block of one file, read window by window."""

    def __init__(self, path: Source, block: Block, kind: str, shape: tuple[int, ...],
                 identity: _windows.Identity | None = None, storage_options: StorageOptions = None) -> None:
        self.path = path  # or any other source: bytes, a file object, a URL
        self.storage_options = storage_options
        self.block = block
        self.kind = kind
        self.shape = shape
        self.dtype = np.dtype(np.float32)
        self.identity = identity

    def __getitem__(self, key: indexing.ExplicitIndexer) -> Any:
        return indexing.explicit_indexing_adapter(key, self.shape, indexing.IndexingSupport.OUTER, self._read)

    def _read(self, key: tuple[Any, ...]) -> NDArray[np.float32]:
        window, then = window_of(key, self.shape, rows_by_number=self.kind in MULTI_REGION_KINDS)
        sizes = tuple(len(w) if isinstance(w, np.ndarray) else w[1] - w[0] for w in window)
        out = np.empty(sizes, dtype=np.float32)
        # An empty window is read too: a block whose main array is empty may
        # still be one that the file cannot give (its read fails past its end).
        with naming_source(self.path, self.block):
            _windows.read_window(self.path, self.block, window, out, self.identity, self.storage_options)
        return pick(out, then)

    def __repr__(self) -> str:
        return f"KestrelBackendArray({source_name(self.path)!r}, {self.block}, shape={self.shape})"


class KestrelTimesArray(BackendArray):
    """The per-record times of a series (its time axis) or of a multi-region
    map (each point's start time), read from the file the first time they are
    used: opening a long series reads none of its records."""

    def __init__(self, path: Source, block: Block, rows: int, identity: _windows.Identity | None = None,
                 storage_options: StorageOptions = None) -> None:
        self.path = path  # or any other source, as for KestrelBackendArray
        self.storage_options = storage_options
        self.block = block
        self.shape = (rows,)
        self.dtype = np.dtype(np.float64)
        self.identity = identity

    def __getitem__(self, key: indexing.ExplicitIndexer) -> Any:
        return indexing.explicit_indexing_adapter(key, self.shape, indexing.IndexingSupport.BASIC, self._read)

    def _read(self, key: tuple[Any, ...]) -> NDArray[np.float64]:
        with naming_source(self.path, self.block):
            times = _windows.read_times(self.path, self.block, self.identity, self.storage_options)
        if isinstance(times, list):  # one array per region
            parts = [np.asarray(t, dtype=np.float64) for t in times if t is not None]
            times = np.concatenate(parts) if parts else np.empty(0, dtype=np.float64)
        values: NDArray[np.float64] = np.asarray(times, dtype=np.float64)[key]
        return values

    def __repr__(self) -> str:
        return f"KestrelTimesArray({source_name(self.path)!r}, {self.block}, rows={self.shape[0]})"
