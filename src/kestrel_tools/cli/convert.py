"""kestrel convert FILE_OR_DIR ... --to csv|jdx|nc|parquet — OPUS files to standard formats.

One output per input file, named after it (``sample.0`` -> ``sample.0.csv``),
beside it or in --out; with --combine one table per folder (CSV or Parquet). A
file that fails is reported on standard error and the others are converted.

Before the work, a map whose file records fewer positions than its grid claims
is said so; when the output would be over 100 times the size of the file (a
small file claiming a huge, mostly empty map) the file is refused unless
--force is given.
"""

from __future__ import annotations

import argparse
import os
import pathlib
import shlex
import sys
from collections.abc import Callable
from typing import Any

import kestrel

from kestrel_tools._read_errors import READ_ERRORS
from kestrel_tools.cli.describe import note_sparse, readable_summary
from kestrel_tools.cli.grammar import Block, UsageError
from kestrel_tools.cli.inputs import gather
from kestrel_tools.cli.outputs import Outputs
from kestrel_tools.cli.session import Session, quiet_warnings
from kestrel_tools.collection import read_collection
from kestrel_tools.export import write_csv, write_jcamp, write_netcdf, write_parquet
from kestrel_tools.metadata import file_info, primary_block
from kestrel_tools.progress import Progress

SUFFIXES = {"csv": ".csv", "jdx": ".jdx", "nc": ".nc", "parquet": ".parquet"}
TABLE_FORMATS = ("csv", "parquet")
# What a writer or an optional import can raise for one input, beside the read errors.
CONVERT_ERRORS = READ_ERRORS + (ImportError, RuntimeError)
# An output larger than this many times its input is written only with --force.
GROWTH_LIMIT = 100


def run(args: argparse.Namespace) -> int:
    if args.combine and args.to not in TABLE_FORMATS:
        raise UsageError(f"--combine makes tables: use --to csv or --to parquet, not {args.to}")
    if args.layout and args.to not in TABLE_FORMATS:
        raise UsageError(f"--layout applies to csv and parquet, not {args.to}")
    session = Session(args)
    outputs = Outputs(session, args.force)
    if args.out and not outputs.folder(args.out):
        return session.status
    with quiet_warnings():
        if args.combine:
            for name in args.inputs:
                combine_folder(session, outputs, args, name)
        else:
            files = gather(session, args.inputs)
            folders = any(os.path.isdir(item) for item in args.inputs)
            with Progress(folders and not session.quiet and sys.stderr.isatty(), total=len(files),
                          label="converting") as bar:
                for path in files:
                    convert_one(session, outputs, args, path)
                    bar.advance()
    return session.status


def _folder_for(args: argparse.Namespace, source: str) -> pathlib.Path:
    return pathlib.Path(args.out) if args.out else pathlib.Path(source).parent


def convert_one(session: Session, outputs: Outputs, args: argparse.Namespace, path: str) -> None:
    target = _folder_for(args, path) / (pathlib.Path(path).name + SUFFIXES[args.to])
    if not outputs.claim(target):
        return
    try:
        block = args.block or default_block(path, args.to)
        entry = readable_summary(session, path, block)
        if entry is None:
            return
        if not within_growth(session, path, entry, args):
            return
        result = kestrel.getOpusData(path, block)
        info = file_info(path, block) if args.to == "jdx" else None
    except CONVERT_ERRORS as error:
        session.fail(path, error)
        return
    _write(session, outputs, args, result, target, path, info)


def within_growth(session: Session, path: str, entry: dict[str, Any], args: argparse.Namespace) -> bool:
    """Says how sparse a map is; False (reported) when its output would dwarf the file and --force is not given."""
    note_sparse(session, path, entry)
    values = 1
    for n in entry["shape"]:
        values *= n
    size = os.path.getsize(path)
    # Four bytes a value is what the most compact of the formats needs; text needs more.
    estimate = 4 * values
    if estimate > GROWTH_LIMIT * max(size, 1) and not args.force:
        session.fail(path, f"the {args.to} output would be at least {_bytes(estimate)}, over {GROWTH_LIMIT} times "
                           f"the file's {_bytes(size)}; --force converts it anyway")
        return False
    return True


def _bytes(n: int) -> str:
    for unit in ("bytes", "KB", "MB", "GB"):
        if n < 1000 or unit == "GB":
            return f"{n} {unit}" if unit == "bytes" else f"{n:.1f} {unit}"
        n /= 1000  # type: ignore[assignment]
    return f"{n} bytes"


def default_block(path: str, to: str) -> Block:
    """The file's primary block; for JCAMP-DX, which holds single spectra, its primary 2D block if it has one."""
    if to != "jdx":
        return primary_block(path)
    spectra = [b for b in kestrel.listContents(path) if b[1] == "2D"]
    return primary_block(path, blocks=spectra or None)


def _writer(args: argparse.Namespace, data: Any, info: Any) -> Callable[[pathlib.Path], None]:
    if args.to == "csv":
        return lambda target: write_csv(data, target, layout=args.layout)
    if args.to == "parquet":
        return lambda target: write_parquet(data, target, layout=args.layout or "wide")
    if args.to == "nc":
        return lambda target: write_netcdf(data, target)
    return lambda target: write_jcamp(data, target, info=info)


def _write(session: Session, outputs: Outputs, args: argparse.Namespace, data: Any, target: pathlib.Path,
           source: str, info: Any = None) -> None:
    try:
        if outputs.write(target, _writer(args, data, info)):
            session.say(str(target))
    except CONVERT_ERRORS as error:  # a writer that refuses the data (a map to JCAMP-DX) or lacks its extra
        session.fail(source, error)


def combine_folder(session: Session, outputs: Outputs, args: argparse.Namespace, name: str) -> None:
    folder = pathlib.Path(name)
    if not folder.is_dir():
        session.fail(folder, "--combine takes folders; this is not one")
        return
    folder = folder.resolve()
    target = (pathlib.Path(args.out) if args.out else folder.parent) / (folder.name + SUFFIXES[args.to])
    if not outputs.claim(target):
        return
    files = gather(session, [str(folder)])
    if not files:
        return
    try:
        collection = read_collection(files, args.block or "auto", progress=not session.quiet and sys.stderr.isatty())
    except CONVERT_ERRORS as error:
        session.fail(folder, error)
        return
    from kestrel_tools.cli.collect_command import report

    report(session, collection, len(files), str(folder), f"use kestrel collect {shlex.quote(name)} --axis common")
    if len(collection.files) == 0:
        session.fail(folder, "no file of this folder could be read")
        return
    _write(session, outputs, args, collection, target, str(folder))
