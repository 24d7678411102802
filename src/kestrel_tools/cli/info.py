"""kestrel info FILE [--json] — what a file holds, for scripts and bug reports.

Every data block with its triple, kind, shape, x range and unit; the main block;
the acquisition time; key metadata; the pictures' attributes (not their bytes).
With --json the same as one JSON object on standard output.
"""

from __future__ import annotations

import argparse
import datetime as dt
import json
import math
import os
from typing import Any

import numpy as np

import kestrel

from kestrel_tools import _windows, model
from kestrel_tools.cli._common import (OK, READ_ERRORS, READ_FAILED, Parser, Triple, command_parser, parse,
                                       quiet_metadata, report)
from kestrel_tools.metadata import file_info, primary_block

# FileInfo fields shown as the file's key metadata.
METADATA_FIELDS = ("sample_name", "sample_form", "operator", "instrument", "resolution", "scans", "x_unit", "y_kind")


def build_parser() -> Parser:
    parser = command_parser("kestrel info", __doc__)
    parser.add_argument("file", help="an OPUS file")
    parser.add_argument("--json", action="store_true", help="print one JSON object")
    return parser


def main(argv: list[str]) -> int:
    args = parse(build_parser(), argv)
    if isinstance(args, int):
        return args
    try:
        with quiet_metadata():
            summary = file_summary(args.file)
    except READ_ERRORS as error:
        report(args.file, error)
        return READ_FAILED
    try:
        if args.json:
            print(json.dumps(summary, indent=2, ensure_ascii=False, allow_nan=False))
        else:
            print_summary(summary)
    except BrokenPipeError:
        pass
    return OK


def file_summary(path: str) -> dict[str, Any]:
    """Everything `kestrel info` shows, as JSON-ready values."""
    if not kestrel.isOpusFile(path):
        raise ValueError("not an OPUS file")
    blocks = [block_summary(path, (t[0], t[1], t[2])) for t in kestrel.listContents(path)]
    summary: dict[str, Any] = {"file": os.path.abspath(path), "size": os.path.getsize(path)}
    try:
        primary: Triple | None = primary_block(path)
    except READ_ERRORS:
        primary = None
    summary["primary_block"] = list(primary) if primary else None
    summary["acquired"] = summary["acquired_from"] = None
    summary["metadata"] = {}
    if primary is not None:
        try:
            info = file_info(path, primary)
        except READ_ERRORS as error:
            summary["metadata_error"] = f"{type(error).__name__}: {error}"
        else:
            acquired = getattr(info, "acquired", None)
            summary["acquired"] = acquired.isoformat() if isinstance(acquired, dt.datetime) else None
            summary["acquired_from"] = _plain(getattr(info, "acquired_from", None))
            summary["metadata"] = {name: _plain(getattr(info, name, None)) for name in METADATA_FIELDS}
            summary["parameters"] = _plain(dict(getattr(info, "parameters", {}) or {}))
    summary["blocks"] = blocks
    summary["pictures"] = pictures(path)
    return summary


def block_summary(path: str, triple: Triple) -> dict[str, Any]:
    """Triple, kind, shape, x range and unit of one block (and its error, when it cannot be read).

    Worked out from the block's plan, so a map of gigabytes costs what its tables cost, not its values.
    """
    entry: dict[str, Any] = {"block": list(triple)}
    try:
        plan = _windows.plan(path, triple)
        if plan.get("failed_at") is not None:
            kestrel.getOpusData(path, triple)  # the read stops inside the block: raises what it raises
    except READ_ERRORS as error:
        entry["error"] = f"{type(error).__name__}: {error}"
        return entry
    kind, parameters = plan["kind"], plan["parameters"]
    entry["kind"] = kind
    entry["shape"] = list(plan["shape"])
    x = np.asarray(plan["x"], np.float64)
    entry["x"] = {"first": _plain(x[0]) if len(x) else None, "last": _plain(x[-1]) if len(x) else None,
                  "points": len(x), "unit": model.x_unit(parameters.get("DXU")).unit or None}
    entry["y"] = {"min": _plain(parameters.get("MNY")), "max": _plain(parameters.get("MXY"))}
    if kind in ("image_map", "trace_map"):
        entry["map"] = {"columns": len(plan["mapX"]), "rows": len(plan["mapY"]),
                        "x": _span(plan["mapX"]), "y": _span(plan["mapY"])}
    if kind == "series":
        entry["z"] = {**_span(plan["z"]), "points": len(plan["z"]), "unit": _plain(parameters.get("ZTX"))}
    if kind in ("trace_map", "trace_series", "multi_region_trace"):
        entry["labels"] = [str(label) for label in plan["labels"]]
    if kind in ("multi_region", "multi_region_trace"):
        entry["regions"] = [{"title": str(r["title"]), "points": r["stop"] - r["start"], "x": _span(r["mapX"]),
                             "y": _span(r["mapY"])} for r in plan["regions"]]
    return entry


def _span(values: Any) -> dict[str, Any]:
    array = np.asarray(values, np.float64)
    finite = array[np.isfinite(array)]
    if not len(finite):
        return {"min": None, "max": None}
    return {"min": _plain(finite.min()), "max": _plain(finite.max())}


def pictures(path: str) -> list[dict[str, Any]]:
    """Each picture's title and attributes, its type and the length of its data."""
    described = []
    for picture in kestrel.getVisImages(path):
        entry = {key: _plain(value) for key, value in picture.items() if key != "image"}
        if "image" in picture:
            entry["bytes"] = len(picture["image"])
        described.append(entry)
    return described


def _plain(value: Any) -> Any:
    """A JSON value: numpy scalars as numbers, non-finite floats as None, other objects as text."""
    if isinstance(value, np.generic):
        value = value.item()
    if value is None or isinstance(value, (bool, int, str)):
        return value
    if isinstance(value, float):
        return value if math.isfinite(value) else None
    if isinstance(value, dict):
        return {str(k): _plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_plain(v) for v in value]
    if isinstance(value, dt.datetime):
        return value.isoformat()
    if isinstance(value, bytes):
        return value.hex()
    return str(value)


def print_summary(summary: dict[str, Any]) -> None:
    """The summary as indented lines."""
    print(f"{summary['file']} ({summary['size']} bytes)")
    primary = summary.get("primary_block")
    print(f"  main block: {' '.join(primary) if primary else '-'}")
    print(f"  acquired:   {summary.get('acquired') or '-'}")
    for name, value in summary.get("metadata", {}).items():
        if value not in (None, ""):
            print(f"  {name.replace('_', ' ')}: {value}")
    print(f"  {len(summary['blocks'])} data block{'s' if len(summary['blocks']) != 1 else ''}")
    for block in summary["blocks"]:
        name = " ".join(block["block"])
        if "error" in block:
            print(f"    {name:<18} not readable: {block['error']}")
            continue
        x = block["x"]
        shape = " x ".join(str(n) for n in block["shape"])
        xs = f"x {x['first']:.6g} .. {x['last']:.6g} {x['unit'] or ''}".rstrip() if x["points"] else "no x"
        print(f"    {name:<18} {block['kind']:<18} {shape:<16} {xs}")
    if summary["pictures"]:
        print(f"  {len(summary['pictures'])} picture{'s' if len(summary['pictures']) != 1 else ''}")
        for number, picture in enumerate(summary["pictures"], start=1):
            kind = picture.get("imgext") or ("no data" if "bytes" not in picture else "unknown")
            print(f"    {number:>3}  {picture.get('Title', '(untitled)')}  {kind}  {picture.get('bytes', '')}")
