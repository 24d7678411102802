"""What a block holds, worked out from its plan: the values are never read.

`kestrel FILE` (the listing) and `kestrel info` describe blocks from here, so a
map of gigabytes costs what its tables cost. Names and units come from the data
model: "cm-1", not the file's code "WN"; map coordinates in micrometres.

>>> from kestrel_tools import DEMO_FILE
>>> entry = block_summary(str(DEMO_FILE), ("AB", "3D", "NONE"))
>>> entry["kind"], entry["shape"], entry["x"]["unit"], entry["map"]["recorded"]
('image_map', [5, 6, 200], 'cm-1', 30)
>>> describe_line(entry)
'image map 6 x 5 (x -250 .. 0 um, y -100 .. 100 um), 30 spectra of 200 points, x 3100 .. 2700 cm-1'
"""

from __future__ import annotations

import math
from typing import TYPE_CHECKING, Any

import numpy as np

import kestrel

from kestrel_tools import _windows, model
from kestrel_tools._layout import MAP_KINDS, MULTI_REGION_KINDS, TRACE_KINDS
from kestrel_tools._read_errors import READ_ERRORS
from kestrel_tools.cli.messages import what_went_wrong

if TYPE_CHECKING:
    from kestrel_tools.cli.session import Session

Block = tuple[str, str, str]

# Parameters worth a glance in the listing of a spectrum, shown with their readable names.
KEY_PARAMETERS = ("SNM", "INS", "RES", "NSS", "APF", "DAT", "TIM")


def block_summary(path: str, block: Block) -> dict[str, Any]:
    """Kind, shape, axes with their units, value kind and extent of one block.

    A block that cannot be read has "error" (in words) and "exception" (the
    exception itself) instead. Floats are kept as they are (NaN and inf too).
    """
    entry: dict[str, Any] = {"block": list(block)}
    try:
        plan: Any = _windows.plan(path, block)
        if plan.get("failed_at") is not None:
            kestrel.getOpusData(path, block)  # the read stops inside the block: raises what it raises
    except READ_ERRORS as error:
        entry["error"] = what_went_wrong(error, path, block)
        entry["exception"] = error
        return entry
    kind, parameters = plan["kind"], plan["parameters"]
    layout = model.layout_of(kind, parameters, block[0])
    x = np.asarray(plan["x"], np.float64)
    entry["kind"] = kind
    entry["shape"] = [int(n) for n in plan["shape"]]
    entry["value"] = layout.value.name
    entry["x"] = {"first": float(x[0]) if len(x) else None, "last": float(x[-1]) if len(x) else None,
                  "points": len(x), "unit": layout.x.unit or None, "name": layout.x.dim,
                  "label": layout.x.label}
    entry["y"] = {"min": _number(parameters.get("MNY")), "max": _number(parameters.get("MXY"))}
    if kind in MAP_KINDS:
        columns, rows = len(plan["mapX"]), len(plan["mapY"])
        per_position = entry["shape"][-1]
        entry["map"] = {"columns": columns, "rows": rows, "x": _span(plan["mapX"]), "y": _span(plan["mapY"]),
                        "unit": model.MAP_UNIT, "positions": columns * rows,
                        "recorded": int(plan.get("copied_bytes", 0)) // (4 * per_position) if per_position else 0}
    if kind == "series":
        z = layout.coords["time"]
        entry["z"] = {**_span(plan["z"]), "points": len(plan["z"]), "unit": z.unit}
    if kind in TRACE_KINDS:
        entry["labels"] = [str(label) for label in plan["labels"]]
    if kind in MULTI_REGION_KINDS:
        entry["regions"] = [{"title": str(r["title"]), "points": int(r["stop"] - r["start"]),
                             "x": _span(r["mapX"]), "y": _span(r["mapY"])} for r in plan["regions"]]
    if kind == "spectrum":
        names = kestrel.OpusDict()
        entry["key_parameters"] = {names.get(k, k): parameters[k] for k in KEY_PARAMETERS if k in parameters}
    return entry


def readable_summary(session: Session, path: str, block: Block) -> dict[str, Any] | None:
    """`block_summary` of a block a command is about to read; None once the
    session has reported why the block cannot be read."""
    entry = block_summary(path, block)
    if "error" in entry:
        session.fail(path, entry["exception"], block)
        return None
    return entry


def _number(value: Any) -> float | None:
    return float(value) if isinstance(value, (int, float, np.number)) and not isinstance(value, bool) else None


def _span(values: Any) -> dict[str, float | None]:
    """The smallest and largest finite value."""
    array = np.asarray(values, np.float64)
    finite = array[np.isfinite(array)]
    if not len(finite):
        return {"min": None, "max": None}
    return {"min": float(finite.min()), "max": float(finite.max())}


def _g(value: float | None) -> str:
    return "?" if value is None else f"{value:.6g}"


def axis_text(span: dict[str, Any], unit: str | None = None) -> str:
    """"3999.6 .. 400.2 cm-1": an axis' first and last value (or its smallest and largest)."""
    first, last = ("first", "last") if "first" in span else ("min", "max")
    text = f"{_g(span[first])} .. {_g(span[last])}"
    return f"{text} {unit}" if unit else text


def x_text(entry: dict[str, Any]) -> str:
    x = entry["x"]
    return f"x {axis_text(x, x['unit'])}" if x["points"] else "no x values"


def plural(n: int, word: str) -> str:
    many = {"spectrum": "spectra"}.get(word, word + "s")
    return f"{n} {word if n == 1 else many}"


def sparse_text(entry: dict[str, Any]) -> str | None:
    """For a map whose file records fewer positions than its grid claims: how many, in words."""
    grid = entry.get("map")
    if grid is None or grid["recorded"] >= grid["positions"]:
        return None
    return (f"the file records {grid['recorded']:,} of the {grid['positions']:,} positions its "
            f"{grid['columns']:,} x {grid['rows']:,} map claims; the others read as zeros")


def note_sparse(session: Session, path: str, entry: dict[str, Any]) -> None:
    """Notes a sparse map on standard error before a command reads it: "BLOCK: " and `sparse_text`."""
    sparse = sparse_text(entry)
    if sparse:
        session.note(path, f"{' '.join(entry['block'])}: {sparse}")


def describe_line(entry: dict[str, Any]) -> str:
    """One line of the listing for a block that could be read."""
    kind = entry["kind"]
    if kind == "spectrum":
        text = f"{entry['x']['points']} points, {x_text(entry)}"
        extras = [f"{name}={value}" for name, value in entry["key_parameters"].items()]
        return text + ("; " + ", ".join(extras) if extras else "")
    if kind in MAP_KINDS:
        grid = entry["map"]
        where = (f"{grid['columns']} x {grid['rows']} (x {axis_text(grid['x'], grid['unit'])}, "
                 f"y {axis_text(grid['y'], grid['unit'])})")
        if kind == "image_map":
            text = f"image map {where}, {plural(grid['positions'], 'spectrum')} of {entry['shape'][-1]} points"
        else:
            text = f"trace map {where}, {plural(len(entry['labels']), 'trace')}"
        if grid["recorded"] < grid["positions"]:
            text += f" ({grid['recorded']:,} recorded)"
    elif kind == "series":
        text = f"time-resolved series, {plural(entry['shape'][0], 'spectrum')}"
        if entry["z"]["points"]:
            text += f" (time {axis_text(entry['z'], entry['z']['unit'])})"
    elif kind == "trace_series":
        text = f"trace series, {plural(len(entry['labels']), 'trace')}"
    else:
        sizes = ", ".join(str(r["points"]) for r in entry["regions"])
        text = f"multi-region map, {plural(len(entry['regions']), 'region')} ({sizes} points)"
        if kind == "multi_region_trace":
            text += f", {plural(len(entry['labels']), 'trace')}"
    return f"{text}, {x_text(entry)}"


def plain(value: Any) -> Any:
    """A JSON value: numpy scalars as numbers, non-finite floats as None, exceptions left out."""
    if isinstance(value, np.generic):
        value = value.item()
    if value is None or isinstance(value, (bool, int, str)):
        return value
    if isinstance(value, float):
        return value if math.isfinite(value) else None
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items() if not isinstance(v, BaseException)}
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, bytes):
        return value.hex()
    if hasattr(value, "isoformat"):
        return value.isoformat()
    return str(value)
