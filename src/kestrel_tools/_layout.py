"""What a block looks like before its data is read: its kind, the shape of its
main array and its axes (a *plan*), and how each result class of `kestrel`
maps onto one.

A plan is the dict that `kestrel_tools._native.plan` returns; `plan_of_result`
builds the same dict from a result that is already in memory, so code written
against plans works on both.

>>> import kestrel
>>> from kestrel_tools import DEMO_FILE
>>> result = kestrel.getOpusData(str(DEMO_FILE), ("AB", "3D", "NONE"))
>>> plan, cube = plan_of_result(result)
>>> plan["kind"], plan["shape"], cube is result.spectra
('image_map', (5, 6, 200), True)
"""

from __future__ import annotations

from typing import Any, Literal, NotRequired, TypedDict

import numpy as np
from numpy.typing import NDArray

from kestrel_tools import model


Kind = Literal["spectrum", "image_map", "trace_map", "series", "trace_series", "multi_region", "multi_region_trace"]

# Groups of kinds, as the data model lays them out. Maps run along a y, x grid;
# the main array of a multi-region kind stacks the rows of every region (its
# first axis may be read through a list of row numbers instead of a range);
# trace kinds run along named traces.
MAP_KINDS: frozenset[str] = frozenset(k for k, s in model.KINDS.items() if {"y", "x"} <= set(s.dims))
MULTI_REGION_KINDS: frozenset[str] = frozenset(k for k, s in model.KINDS.items() if "point" in s.dims)
TRACE_KINDS: frozenset[str] = frozenset(k for k, s in model.KINDS.items() if s.along == model.TRACE)


# Result class of kestrel -> the kind of block it holds.
RESULT_KINDS: dict[str, Kind] = {
    "SingleDataReturn": "spectrum",
    "ImageDataReturn": "image_map",
    "ImageTRCDataReturn": "trace_map",
    "TimeResolvedDataReturn": "series",
    "TimeResolvedTRCDataReturn": "trace_series",
    "MultiRegionDataReturn": "multi_region",
    "MultiRegionTRCDataReturn": "multi_region_trace",
}


def result_kind(result: object) -> Kind | None:
    """The kind of a result of `kestrel.getOpusData`, or None for anything else.

    Matched by class name along the MRO, so subclasses count as their base.
    """
    for cls in type(result).__mro__:
        if cls.__module__ == "kestrel" and cls.__name__ in RESULT_KINDS:
            return RESULT_KINDS[cls.__name__]
    return None


class RegionPlan(TypedDict):
    """One region of a multi-region block: rows start..stop of the stacked array."""

    title: str
    start: int
    stop: int
    mapX: NDArray[np.float64]
    mapY: NDArray[np.float64]
    start_time: NDArray[np.float64] | None


class Plan(TypedDict):
    """The layout of one block; the optional keys belong to some kinds only."""

    kind: Kind
    shape: tuple[int, ...]
    dtype: str
    x: NDArray[np.float64]
    parameters: dict[str, Any]
    mapX: NotRequired[NDArray[np.float64]]
    mapY: NotRequired[NDArray[np.float64]]
    z: NotRequired[NDArray[np.float64]]
    labels: NotRequired[list[str]]
    regions: NotRequired[list[RegionPlan]]
    identity: NotRequired[tuple[int, ...]]


def plan_of_result(result: object) -> tuple[Plan, NDArray[np.float32]]:
    """The plan of a `getOpusData` result and its main array (regions stacked).

    Raises TypeError for anything that is not one of kestrel's result classes.
    """
    kind = result_kind(result)
    if kind is None:
        raise TypeError(f"expected a result of kestrel.getOpusData, got {type(result).__name__}")
    r: Any = result
    if kind == "spectrum":
        data = np.asarray(r.y)
    elif kind in ("image_map", "series"):
        data = np.asarray(r.spectra)
    elif kind in ("trace_map", "trace_series"):
        data = np.asarray(r.traces)
    else:
        data, regions = _stack_regions(r.regions, len(r.x) if kind == "multi_region" else len(r.labels))
    plan: Plan = {"kind": kind, "shape": data.shape, "dtype": "float32", "x": r.x, "parameters": r.parameters}
    if kind in MAP_KINDS:
        plan["mapX"], plan["mapY"] = r.mapX, r.mapY
    if kind == "series":
        plan["z"] = r.z
    if kind in TRACE_KINDS:
        plan["labels"] = list(r.labels)
    if kind in MULTI_REGION_KINDS:
        plan["regions"] = regions
    return plan, data


def _stack_regions(regions: list[Any], width: int) -> tuple[NDArray[np.float32], list[RegionPlan]]:
    """All regions' rows in one array, and where each region's rows lie in it."""
    plans: list[RegionPlan] = []
    start = 0
    for region in regions:
        rows = len(region.spectra)
        plans.append(RegionPlan(title=str(region.title), start=start, stop=start + rows,
                                mapX=np.asarray(region.mapX, dtype=np.float64),
                                mapY=np.asarray(region.mapY, dtype=np.float64),
                                start_time=None if region.start_time is None
                                else np.asarray(region.start_time, dtype=np.float64)))
        start += rows
    if not regions:
        return np.empty((0, width), dtype=np.float32), plans
    return np.concatenate([np.asarray(r.spectra, dtype=np.float32) for r in regions]), plans


def normalise_plan(raw: dict[str, Any]) -> Plan:
    """A plan as the native module returns it, with its shape as a tuple of ints."""
    plan: Any = dict(raw)
    plan["shape"] = tuple(int(n) for n in raw["shape"])
    return plan  # type: ignore[no-any-return]


def coordinate_values(plan: Plan, layout: model.Layout) -> dict[str, NDArray[Any]]:
    """The values of every coordinate of `layout`, read from the plan where the
    data model says they come from: numbers as float64, names as str objects.

    A region field that some region lacks (the start times of a trace map's
    regions) gives no coordinate.

    >>> import kestrel
    >>> from kestrel_tools import DEMO_REGIONS_FILE
    >>> plan, _ = plan_of_result(kestrel.getOpusData(str(DEMO_REGIONS_FILE), ("AB", "3D", "NONE")))
    >>> values = coordinate_values(plan, model.layout_of(plan["kind"], plan["parameters"], "AB"))
    >>> sorted(values), values["region"][:1].tolist()
    (['region', 'start_time', 'wavenumber', 'x', 'y'], ['Region 1 (2 x 2)'])
    """
    raw: Any = plan
    values: dict[str, NDArray[Any]] = {}
    for name, axis in layout.coords.items():
        source = axis.source
        if source.startswith("regions."):
            column = _region_column(raw.get("regions", []), source.partition(".")[2])
            if column is not None:
                values[name] = column
        elif source == "labels":
            values[name] = _strings([str(label) for label in raw.get("labels", [])])
        elif source in raw:
            values[name] = np.asarray(raw[source], dtype=np.float64)
    return values


def _region_column(regions: list[RegionPlan], field: str) -> NDArray[Any] | None:
    if field == "title":
        return _strings([region["title"] for region in regions for _ in range(region["start"], region["stop"])])
    parts = [region[field] for region in regions]  # type: ignore[literal-required]
    if any(part is None for part in parts):
        return None
    if not parts:
        return np.empty(0, dtype=np.float64)
    return np.concatenate([np.asarray(part, dtype=np.float64) for part in parts])


def _strings(values: list[str]) -> NDArray[Any]:
    return np.array(values, dtype=object) if values else np.empty(0, dtype=object)
