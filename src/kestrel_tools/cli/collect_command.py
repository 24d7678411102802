"""kestrel collect DIR_OR_GLOB... --out FILE.csv|.parquet|.nc

Reads the single spectrum of every file into one table (one row per file:
metadata columns, then one column per x value) and writes it. Failed files are
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
    # Kept minimal on purpose: the export package's writers can take its place.
    suffix = out.suffix.lower()
    if suffix == ".nc":
        array = collection.to_xarray()
        array.name = "spectra"
        array.to_netcdf(out, engine="h5netcdf")
        return
    frame = collection.to_pandas()
    if suffix == ".csv":
        frame.to_csv(out, index=False)
    else:
        frame.columns = [str(c) for c in frame.columns]  # parquet wants text column names
        frame.to_parquet(out, engine="pyarrow", index=False)


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
        except (OSError, ImportError) as error:
            print(f"kestrel collect: {out}: {type(error).__name__}: {error}", file=sys.stderr)
            return 1
        print(f"kestrel collect: {len(collection)} spectra x {collection.x.size} points -> {out}", file=sys.stderr)
    else:
        print("kestrel collect: no file could be read; nothing written", file=sys.stderr)
    return 1 if collection.failed else 0
