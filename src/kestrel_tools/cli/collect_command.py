"""kestrel collect DIR_OR_GLOB... --out FILE.csv|.parquet|.nc

Reads the single spectrum of every file into one matrix and writes it with the
export writers: CSV and Parquet one row per file (its path, then one column per
x value), netCDF with the files' metadata as coordinates. Failed files are
listed on stderr. Exit status: 0 all read, 1 a file could not be read, 2 usage.
"""

from __future__ import annotations

import argparse
import pathlib
import sys

from kestrel_tools.collection import Collection, read_collection
from kestrel_tools.sources import expand_sources

FORMATS = (".csv", ".parquet", ".nc")


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="kestrel collect",
                                     description="Read the spectrum of many OPUS files into one table.")
    parser.add_argument("sources", nargs="+", metavar="DIR_OR_GLOB", help="a folder, a glob pattern or a file")
    parser.add_argument("--block", nargs=3, metavar=("TYPE", "DIMS", "DERIV"),
                        help="the block to read from every file (default: each file's primary 2D block)")
    parser.add_argument("--recursive", action="store_true", help="read the subfolders of folders too")
    parser.add_argument("--out", required=True, metavar="FILE", help="FILE.csv, FILE.parquet or FILE.nc")
    parser.add_argument("--workers", type=int, default=None, help="reading threads (default: CPU count)")
    parser.add_argument("--no-progress", action="store_true", help="no progress bar")
    return parser


def _write(collection: Collection, out: pathlib.Path) -> None:
    from kestrel_tools.export import write_csv, write_netcdf, write_parquet

    writers = {".csv": write_csv, ".parquet": write_parquet, ".nc": write_netcdf}
    writers[out.suffix.lower()](collection, out)


def main(argv: list[str]) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    out = pathlib.Path(args.out)
    if out.suffix.lower() not in FORMATS:
        parser.error(f"--out must end in {', '.join(FORMATS)}: {args.out}")
    if args.workers is not None and args.workers < 1:
        parser.error("--workers must be at least 1")
    paths = [p for source in args.sources for p in expand_sources(source, recursive=args.recursive)]
    if not paths:
        parser.error("no files match " + " ".join(args.sources))
    try:
        collection = read_collection(paths, args.block or "auto", workers=args.workers,
                                     progress=not args.no_progress)
    except ValueError as error:  # a bad --block
        parser.error(str(error))
    for path, reason in collection.failed:
        print(f"kestrel collect: {path}: {reason}", file=sys.stderr)
    if len(collection):
        try:
            _write(collection, out)
        except (OSError, ImportError, ValueError) as error:
            print(f"kestrel collect: {out}: {type(error).__name__}: {error}", file=sys.stderr)
            return 1
        print(f"kestrel collect: {len(collection)} spectra x {collection.x.size} points -> {out}", file=sys.stderr)
    else:
        print("kestrel collect: no file could be read; nothing written", file=sys.stderr)
    return 1 if collection.failed else 0
