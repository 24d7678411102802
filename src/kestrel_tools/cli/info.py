"""kestrel info FILE ... [--json] — what files hold, for scripts and bug reports.

Every data block with its triple, kind, shape, x range and unit; the main block;
the acquisition time; key metadata; the pictures' attributes (not their bytes).
Blocks are described from their plans, without reading their values. With
--json the same as one JSON object (a list of them for several files or a
folder); numbers that are not finite are null there.
"""

from __future__ import annotations

import argparse
import datetime as dt
import json
import os
import pathlib
from typing import Any

import kestrel

from kestrel_tools import model
from kestrel_tools._read_errors import READ_ERRORS
from kestrel_tools.cli.describe import block_summary, plain, sparse_text, x_text
from kestrel_tools.cli.grammar import Block
from kestrel_tools.cli.inputs import gather
from kestrel_tools.cli.messages import what_went_wrong
from kestrel_tools.cli.outputs import Outputs, save_text
from kestrel_tools.cli.session import Session, quiet_warnings
from kestrel_tools.metadata import file_info, primary_block
from kestrel_tools.sources import is_pattern

# FileInfo fields shown as the file's key metadata.
METADATA_FIELDS = ("sample_name", "sample_form", "operator", "instrument", "resolution", "scans", "x_unit", "y_kind")


def run(args: argparse.Namespace) -> int:
    session = Session(args)
    outputs = Outputs(session, args.force)
    if args.out:
        if not outputs.claim(pathlib.Path(args.out)):
            return session.status
        session.captured = []
    files = gather(session, args.inputs)
    summaries = []
    with quiet_warnings():
        for path in files:
            summary = file_summary(path, args.block, session)
            if summary is None:
                continue
            if args.json:
                summaries.append(summary)
            else:
                if session.lines:
                    session.say("")
                print_summary(session, summary)
    if args.json:
        one = len(args.inputs) == 1 and not os.path.isdir(args.inputs[0]) and not is_pattern(args.inputs[0])
        if summaries or not one:
            session.say(json.dumps(plain(summaries[0] if one else summaries), indent=2, ensure_ascii=False,
                                   allow_nan=False))
    if session.captured is not None:
        save_text(outputs, args.out, session.captured)
    return session.status


def file_summary(path: str, only: Block | None = None, session: Session | None = None) -> dict[str, Any] | None:
    """Everything `kestrel info` shows of one file (all blocks, or `only` that one), as JSON-ready values
    but for floats that are not finite; None when the file cannot be read. Failures are reported
    through `session` (by default on standard error)."""
    if session is None:
        session = Session(argparse.Namespace())
    try:
        listed = [(t[0], t[1], t[2]) for t in kestrel.listContents(path)]
        size = os.path.getsize(path)
    except READ_ERRORS as error:
        session.fail(path, error)
        return None
    if only is not None and only not in listed:
        session.fail(path, ValueError(f"No data block exists in the file for: {' '.join(only)}"))
        return None
    blocks = [block_summary(path, block) for block in ([only] if only else listed)]
    said: set[str] = set()
    for entry in blocks:
        if "error" in entry:
            session.fail_block(said, path, entry)
            del entry["exception"]  # the summary is JSON
    summary: dict[str, Any] = {"file": os.path.abspath(path), "size": size}
    try:
        primary: Block | None = primary_block(path)
    except READ_ERRORS:
        primary = None
    summary["primary_block"] = list(primary) if primary else None
    summary["acquired"] = summary["acquired_from"] = None
    summary["metadata"] = {}
    if primary is not None:
        try:
            info = file_info(path, primary)
        except READ_ERRORS as error:
            summary["metadata_error"] = what_went_wrong(error, path, primary)
        else:
            acquired = getattr(info, "acquired", None)
            summary["acquired"] = acquired.isoformat() if isinstance(acquired, dt.datetime) else None
            summary["acquired_from"] = getattr(info, "acquired_from", None)
            summary["metadata"] = {name: getattr(info, name, None) for name in METADATA_FIELDS}
            summary["parameters"] = dict(getattr(info, "parameters", {}) or {})
    summary["blocks"] = blocks
    try:
        summary["pictures"] = pictures(path)
    except READ_ERRORS as error:
        summary["pictures"] = []
        session.fail(path, f"its pictures cannot be read: {what_went_wrong(error, path)}")
    return summary


def pictures(path: str) -> list[dict[str, Any]]:
    """Each picture's title and attributes, its type and the length of its data."""
    described = []
    for picture in kestrel.getVisImages(path):
        entry = {key: value for key, value in picture.items() if key != "image"}
        if "image" in picture:
            entry["bytes"] = len(picture["image"])
        described.append(entry)
    return described


# The units of the metadata fields, from the data model (a collection's columns are these fields).
_FIELD_UNITS = {c.name: c.unit for c in model.KINDS["collection"].coords if c.source == "info" and c.unit}


def _field_text(name: str, value: Any) -> str:
    """A metadata field as the text shows it: a y kind in words ("Raman spectrum"), a number with its unit.

    >>> _field_text("y_kind", "raman"), _field_text("resolution", 4.0), _field_text("scans", 32)
    ('Raman spectrum', '4.0 cm-1', '32')
    """
    if name == "y_kind" and value in model.VALUE_KINDS:
        return model.VALUE_KINDS[value].noun
    unit = _FIELD_UNITS.get(name)
    return f"{value} {unit}" if unit else str(value)


def print_summary(session: Session, summary: dict[str, Any]) -> None:
    """The summary as indented lines."""
    say = session.say
    say(f"{summary['file']} ({summary['size']} bytes)")
    primary = summary.get("primary_block")
    say(f"  main block: {' '.join(primary) if primary else '-'}")
    say(f"  acquired:   {summary.get('acquired') or '-'}")
    for name, value in summary.get("metadata", {}).items():
        if value not in (None, ""):
            say(f"  {name.replace('_', ' ')}: {_field_text(name, value)}")
    say(f"  {len(summary['blocks'])} data block{'s' if len(summary['blocks']) != 1 else ''}")
    for block in summary["blocks"]:
        name = " ".join(block["block"])
        if "error" in block:
            say(f"    {name:<18} not readable: {block['error']}")
            continue
        shape = " x ".join(str(n) for n in block["shape"])
        say(f"    {name:<18} {block['kind']:<18} {shape:<16} {x_text(block)}")
        sparse = sparse_text(block)
        if sparse:
            say(f"    {'':<18} {sparse}")
    if summary["pictures"]:
        say(f"  {len(summary['pictures'])} picture{'s' if len(summary['pictures']) != 1 else ''}")
        for number, picture in enumerate(summary["pictures"], start=1):
            kind = picture.get("imgext") or ("no data" if "bytes" not in picture else "unknown")
            say(f"    {number:>3}  {picture.get('Title', '(untitled)')}  {kind}  {picture.get('bytes', '')}")
