"""kestrel [FILE ...] — what each file is, its data blocks and its pictures.

Each block is described from its plan (kind, grid or regions, points, x range
and unit, key parameters), so listing a map of gigabytes reads its tables, not
its values. A block that cannot be read is marked and named on standard error;
the others are listed, and the status is 1. With --block, one block and its
full description; with --block and --csv, its values as CSV.
"""

from __future__ import annotations

import argparse
import os
import pathlib
import shutil
import sys
import tempfile

import kestrel

from kestrel_tools._read_errors import READ_ERRORS
from kestrel_tools.cli.describe import block_summary, describe_line, readable_summary
from kestrel_tools.cli.grammar import Block, UsageError
from kestrel_tools.cli.images import show_pictures
from kestrel_tools.cli.inputs import gather
from kestrel_tools.cli.outputs import Outputs, save_text
from kestrel_tools.cli.session import Session, quiet_warnings
from kestrel_tools.data import DEMO_FILE


def run(args: argparse.Namespace) -> int:
    if args.csv and not args.block:
        raise UsageError("--csv needs --block TYPE DIMS DERIV")
    if args.save_images and args.csv:
        raise UsageError("--save-images lists the file; it does not go with --csv")
    session = Session(args)
    outputs = Outputs(session, args.force)
    files = gather(session, args.inputs or [str(DEMO_FILE)])
    if args.csv and args.out and len(files) > 1:
        raise UsageError("--csv with --out writes one file: give one input")
    if args.out and not args.csv:
        if not outputs.claim(pathlib.Path(args.out)):
            return session.status
        session.captured = []
    with quiet_warnings():
        for path in files:
            if args.csv:
                write_csv(session, outputs, path, args.block, args.out)
                continue
            if session.lines:
                session.say("")
            if args.block:
                show_block(session, path, args.block)
            elif list_file(session, path):
                show_pictures(session, outputs, path, args.save_images)
    if session.captured is not None:
        save_text(outputs, args.out, session.captured)
    return session.status


def list_file(session: Session, path: str) -> bool:
    """The file's blocks, one line each; False when the file itself cannot be read."""
    try:
        blocks = kestrel.listContents(path)  # a file that is not OPUS fails here, worded as such
    except READ_ERRORS as error:
        session.fail(path, error)
        return False
    session.say(f"{path}: OPUS file, {len(blocks)} data block{'s' if len(blocks) != 1 else ''}")
    said: set[str] = set()
    for block in blocks:
        entry = block_summary(path, (block[0], block[1], block[2]))
        name = f"  {block[0]:<10} {block[1]}  {block[2]:<5}"
        if "error" in entry:
            session.say(f"{name} not readable: {entry['error']}")
            session.fail_block(said, path, entry)
        else:
            session.say(f"{name} {describe_line(entry)}")
    return True


def show_block(session: Session, path: str, block: Block) -> None:
    """One block: its description line, then the result's own description."""
    entry = readable_summary(session, path, block)
    if entry is None:
        return
    try:
        result = kestrel.getOpusData(path, block)
    except READ_ERRORS as error:
        session.fail(path, error, block)
        return
    session.say(f"{' '.join(block)}: {describe_line(entry)}")
    session.say(result.description.rstrip("\n"))


def write_csv(session: Session, outputs: Outputs, path: str, block: Block, out: str | None) -> None:
    """The block's values as CSV, written by the export writer: to `out`, or to standard output."""
    from kestrel_tools.export import write_csv as export_csv

    try:
        result = kestrel.getOpusData(path, block)
    except READ_ERRORS as error:
        session.fail(path, error, block)
        return
    if out is not None:
        outputs.write(pathlib.Path(out), lambda target: export_csv(result, target))
        return
    with tempfile.TemporaryDirectory() as folder:
        temporary = os.path.join(folder, "block.csv")
        export_csv(result, temporary)
        with open(temporary, encoding="utf-8", newline="") as text:
            shutil.copyfileobj(text, sys.stdout)
