"""Labelled arrays of OPUS data: `to_xarray` for results in memory,
`open_dataset` and the "kestrel" xarray engine for lazy, windowed and
distributed reading of files larger than memory.

Importing this package needs only numpy; xarray (and Dask for chunks) are
imported by the functions that use them.
"""

from kestrel_tools.xarray_backend.convert import to_xarray
from kestrel_tools.xarray_backend.dataset import open_dataset
from kestrel_tools.xarray_backend.entrypoint import KestrelBackendEntrypoint

__all__ = ["KestrelBackendEntrypoint", "open_dataset", "to_xarray"]
