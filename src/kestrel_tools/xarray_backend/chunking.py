"""The chunks the engine proposes to Dask: slabs of whole stored rows, so each
chunk's windowed read takes its records in file order, and small enough that a
map of a few hundred megabytes already gives every worker work.

``open_dataset`` takes these for ``chunks={}`` and ``chunks="auto"``; any
other ``chunks`` go to xarray as given.

>>> preferred_chunks({"kind": "image_map", "shape": (512, 512, 1500), "layout": "per_position"},
...                  ("y", "x", "wavenumber"))
{'y': 10, 'x': 512, 'wavenumber': 1500}
>>> preferred_chunks({"kind": "image_map", "shape": (512, 512, 1500), "layout": "transposed"},
...                  ("y", "x", "wavenumber"))
{'y': 512, 'x': 512, 'wavenumber': 32}
"""

from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from typing import Any

# Bytes of float32 values per preferred chunk: large enough that a task's
# overhead (a few milliseconds) is small against its read, small enough that
# a 100 MB map splits into several chunks and a worker holds little at once.
CHUNK_BYTES = 32 << 20

# Kinds whose first axis is the order of their records in the file.
ROW_KINDS = frozenset({"image_map", "trace_map", "series", "multi_region"})


def preferred_chunks(plan: Mapping[str, Any], dims: Sequence[str]) -> dict[str, int] | None:
    """{dimension: chunk length} for the block `plan` describes, shown along `dims`, or None
    when the block is best read whole (single spectra, traces shown transposed)."""
    shape = tuple(int(n) for n in plan["shape"])
    kind = plan["kind"]
    if kind not in ROW_KINDS or len(shape) != len(dims) or 0 in shape:
        return None
    chunks = dict(zip(dims, shape))
    if kind == "image_map" and plan.get("layout") == "transposed":
        # each record holds one spectral point of every position: slabs of points
        per_point = 4 * shape[0] * shape[1]
        chunks[dims[-1]] = max(1, min(shape[-1], CHUNK_BYTES // per_point))
        return chunks
    per_row = 4 * math.prod(shape[1:])
    chunks[dims[0]] = max(1, min(shape[0], CHUNK_BYTES // per_row))
    return chunks
