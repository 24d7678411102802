"""kestrel collect DIR_OR_GLOB... --out FILE.csv|.parquet|.nc

Reads the single spectrum of every file into one matrix and writes it with the
export writers: CSV and Parquet one row per file (its path, then one column per
x value), netCDF with the files' metadata as coordinates. Failed files are
listed on stderr. Exit status: 0 all read, 1 a file could not be read, 2 usage.
"""

from __future__ import annotations

import argparse
import pathlib

from kestrel_tools.cli.grammar import UsageError
from kestrel_tools.cli.inputs import gather
from kestrel_tools.cli.messages import reason_words
from kestrel_tools.cli.outputs import Outputs
from kestrel_tools.cli.session import Session
from kestrel_tools.collection import Collection, read_collection

FORMATS = (".csv", ".parquet", ".nc")


def _write(collection: Collection, out: pathlib.Path, suffix: str) -> None:
    from kestrel_tools.export import write_csv, write_netcdf, write_parquet

    writers = {".csv": write_csv, ".parquet": write_parquet, ".nc": write_netcdf}
    writers[suffix](collection, out)


def run(args: argparse.Namespace) -> int:
    out = pathlib.Path(args.out)
    suffix = out.suffix.lower()
    if suffix not in FORMATS:
        raise UsageError(f"--out must end in {', '.join(FORMATS)}: {args.out}")
    session = Session(args)
    outputs = Outputs(session, args.force)
    if not outputs.claim(out):
        return session.status
    paths = gather(session, args.inputs, recursive=args.recursive, every_file=True)
    if not paths:
        return session.status
    try:
        collection = read_collection(paths, args.block or "auto", workers=args.workers,
                                     progress=not (args.no_progress or session.quiet))
    except ValueError as error:  # a block no file can be read as
        raise UsageError(str(error)) from None
    for path, reason in collection.failed:
        session.fail(path, reason_words(reason, path))
    if not len(collection):
        session.fail(out, "no file could be read; nothing written")
        return session.status
    try:
        written = outputs.write(out, lambda target: _write(collection, target, suffix))
    except (ImportError, ValueError) as error:
        session.fail(out, error)
        return session.status
    if written:
        session.note(out, f"{len(collection)} spectra x {collection.x.size} points written")
    return session.status
