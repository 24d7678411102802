"""kestrel_tools: what scientists do with OPUS files once kestrel can read them.

Metadata and acquisition times, collections of files read into one matrix,
pandas tables and xarray arrays of every result, lazy and distributed reading of
large maps, export to standard formats, and the `kestrel` command.

The `kestrel` module reads one block of one file exactly as specified; this
package builds on it and on a small private native module (`_native`) for what
Python cannot do fast (a window of a map, a row of a matrix).

Names are loaded on first use, so ``import kestrel_tools`` needs only numpy.
"""

from __future__ import annotations

import importlib
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    # What type checkers see: the real names and signatures. At run time the
    # names load on first use (below), so importing the package stays cheap.
    # "name as name" marks each as exported. Keep this list and _EXPORTS in
    # step (a test checks it).
    from kestrel_tools import _native as _native  # type: ignore[attr-defined]  # untyped extension
    from kestrel_tools.collection import (
        Collection as Collection,
        read_collection as read_collection,
    )
    from kestrel_tools.data import (
        DEMO_FILE as DEMO_FILE,
        DEMO_REGIONS_FILE as DEMO_REGIONS_FILE,
    )
    from kestrel_tools.export import (
        write_csv as write_csv,
        write_jcamp as write_jcamp,
        write_netcdf as write_netcdf,
        write_parquet as write_parquet,
    )
    from kestrel_tools.metadata import (
        FileInfo as FileInfo,
        MetadataWarning as MetadataWarning,
        file_info as file_info,
        primary_block as primary_block,
        x_unit_name as x_unit_name,
        y_kind_name as y_kind_name,
    )
    from kestrel_tools.plot import (
        plot_result as plot_result,
    )
    from kestrel_tools.progress import (
        Progress as Progress,
    )
    from kestrel_tools.references import (
        combine_references as combine_references,
        references as references,
    )
    from kestrel_tools.sources import (
        expand_sources as expand_sources,
    )
    from kestrel_tools.tables import (
        to_pandas as to_pandas,
    )
    from kestrel_tools.xarray_backend import (
        KestrelBackendEntrypoint as KestrelBackendEntrypoint,
        open_dataset as open_dataset,
        to_xarray as to_xarray,
    )

# public name -> the module that defines it
_EXPORTS: dict[str, str] = {
    "DEMO_FILE": "kestrel_tools.data",
    "DEMO_REGIONS_FILE": "kestrel_tools.data",
    "FileInfo": "kestrel_tools.metadata",
    "MetadataWarning": "kestrel_tools.metadata",
    "file_info": "kestrel_tools.metadata",
    "primary_block": "kestrel_tools.metadata",
    "x_unit_name": "kestrel_tools.metadata",
    "y_kind_name": "kestrel_tools.metadata",
    "Collection": "kestrel_tools.collection",
    "read_collection": "kestrel_tools.collection",
    "expand_sources": "kestrel_tools.sources",
    "Progress": "kestrel_tools.progress",
    "to_pandas": "kestrel_tools.tables",
    "KestrelBackendEntrypoint": "kestrel_tools.xarray_backend",
    "open_dataset": "kestrel_tools.xarray_backend",
    "to_xarray": "kestrel_tools.xarray_backend",
    "write_csv": "kestrel_tools.export",
    "write_jcamp": "kestrel_tools.export",
    "write_netcdf": "kestrel_tools.export",
    "write_parquet": "kestrel_tools.export",
    "plot_result": "kestrel_tools.plot",
    "references": "kestrel_tools.references",
    "combine_references": "kestrel_tools.references",
}

__all__ = sorted(_EXPORTS)


def __getattr__(name: str) -> Any:
    module = _EXPORTS.get(name)
    if module is None:
        raise AttributeError(f"module 'kestrel_tools' has no attribute {name!r}")
    value = getattr(importlib.import_module(module), name)
    globals()[name] = value
    return value


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(_EXPORTS))
