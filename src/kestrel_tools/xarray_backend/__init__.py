"""Labelled arrays of OPUS data: `to_xarray` for results in memory,
`open_dataset` and the "kestrel" xarray engine for lazy, windowed and
distributed reading of files larger than memory.

Importing this package needs only numpy; xarray (and Dask for chunks) are
imported by the functions that use them. The engine class is loaded on first
use, since its base class comes from xarray when xarray is there.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

from kestrel_tools.xarray_backend.convert import to_xarray
from kestrel_tools.xarray_backend.dataset import open_dataset

if TYPE_CHECKING:
    from kestrel_tools.xarray_backend.entrypoint import KestrelBackendEntrypoint

__all__ = ["KestrelBackendEntrypoint", "open_dataset", "to_xarray"]


def __getattr__(name: str) -> Any:
    if name == "KestrelBackendEntrypoint":
        from kestrel_tools.xarray_backend.entrypoint import KestrelBackendEntrypoint

        return KestrelBackendEntrypoint
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
