"""kestrel collect DIR_OR_GLOB... --out FILE.csv|.parquet|.nc [--axis same|common|START:STOP:STEP]

Reads the single spectrum of every file into one matrix and writes it with the
export writers: one row per file with its path, block and metadata. The
collection holds the kind of spectrum most files share; with --axis same (the
default) the x axis most of them share, with --axis common every spectrum
interpolated onto the range all of them cover, with START:STOP:STEP onto that
grid. What was left out is said on stderr with the option that includes it.
Exit status: 0 all read, 1 a file could not be read or was left out, 2 usage.
"""

from __future__ import annotations

import argparse
import math
import os
import pathlib
import sys
from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

from kestrel_tools._collection_choice import Excluded, describe_kind
from kestrel_tools.collection import Collection, check_block, read_collection
from kestrel_tools.sources import find_files

FORMATS = (".csv", ".parquet", ".nc")
PROG = "kestrel collect"
# An explicit grid longer than this is a typo, not a spectrum.
MAX_GRID = 10_000_000


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog=PROG, description="Read the spectrum of many OPUS files into one table.")
    parser.add_argument("sources", nargs="+", metavar="DIR_OR_GLOB", help="a folder, a glob pattern or a file")
    parser.add_argument("--block", nargs=3, metavar=("TYPE", "DIMS", "DERIV"),
                        help="the block to read from every file (default: each file's primary 2D block)")
    parser.add_argument("--axis", default="same", metavar="same|common|START:STOP:STEP",
                        help="same: the x axis most files share (default); common: interpolate onto the range "
                             "all files cover at the finest spacing; START:STOP:STEP: interpolate onto that grid")
    parser.add_argument("--recursive", action="store_true", help="read the subfolders of folders too")
    parser.add_argument("--out", required=True, metavar="FILE", help="FILE.csv, FILE.parquet or FILE.nc")
    parser.add_argument("--workers", type=int, default=None, help="reading threads (default: CPU count)")
    parser.add_argument("--no-progress", action="store_true", help="no progress bar")
    return parser


def parse_axis(text: str) -> str | npt.NDArray[np.float64]:
    """"same", "common", or the grid START:STOP:STEP (both ends included when the step meets STOP).

    >>> parse_axis("10:4:-2")
    array([10.,  8.,  6.,  4.])

    Raises ValueError saying what is wrong.
    """
    if text in ("same", "common"):
        return text
    parts = text.split(":")
    try:
        if len(parts) != 3:
            raise ValueError
        start, stop, step = (float(p) for p in parts)
    except ValueError:
        raise ValueError(f"--axis takes same, common or START:STOP:STEP, not {text!r}") from None
    if not all(math.isfinite(v) for v in (start, stop, step)) or step == 0 or (stop - start) * step < 0:
        raise ValueError(f"--axis {text}: STEP must be finite, non-zero and lead from START to STOP")
    count = math.floor((stop - start) / step * (1 + 1e-12)) + 1
    if count > MAX_GRID:
        raise ValueError(f"--axis {text} makes {count} points, more than {MAX_GRID}")
    return start + np.arange(count) * step


def _write(collection: Collection, out: pathlib.Path) -> None:
    from kestrel_tools.export import write_csv, write_netcdf, write_parquet

    writers = {".csv": write_csv, ".parquet": write_parquet, ".nc": write_netcdf}
    writers[out.suffix.lower()](collection, out)


def _number(value: float) -> str:
    """An axis end as people write it: 3998.3, 400, 0.25."""
    if value == round(value):
        return str(int(value))
    return f"{value:.1f}" if abs(value) >= 100 else f"{value:.4g}"


def _span(first: float, last: float, unit: str | None) -> str:
    joint = " to " if min(first, last) < 0 else "-"
    return f"{_number(first)}{joint}{_number(last)}" + (f" {unit}" if unit else "")


def _names(paths: Sequence[str], limit: int = 3) -> str:
    names = [os.path.basename(p) for p in paths]
    if len(names) <= limit:
        return names[0] if len(names) == 1 else ", ".join(names[:-1]) + " and " + names[-1]
    return ", ".join(names[:limit]) + f" and {len(names) - limit} more"


def advice(collection: Collection, total: int) -> list[str]:
    """What was left out for its kind or axis, and the option that includes it."""
    lines: list[str] = []
    if not len(collection) or not collection.x.size:
        return lines
    held = describe_kind((collection.y_kind or "", collection.x_unit))[1]
    span = _span(collection.x[0], collection.x[-1], collection.x_unit)
    by_kind: dict[tuple[str, tuple[str, str | None]], list[Excluded]] = {}
    axes: list[Excluded] = []
    for e in collection.excluded:
        if e.why == "kind":
            by_kind.setdefault((" ".join(e.block), e.kind), []).append(e)
        elif e.why == "axis":
            axes.append(e)
    of_kind = len(collection) + len(axes)
    if by_kind:
        parts = []
        for (block, other), files in by_kind.items():
            one, many = describe_kind(other)
            several = len(files) > 1
            parts.append(f"{_names([e.path for e in files])} {'are' if several else 'is'} {many if several else one}"
                         f": use --block {block} to collect {many}")
        lines.append(f"{of_kind} of {total} files are {held}{'' if axes else ' on ' + span}; " + "; ".join(parts))
    if axes:
        e = axes[0]
        lines.append(f"{len(collection)} of {of_kind} {held} share {collection.x.size} points on {span}; "
                     f"{_names([e.path for e in axes])} {'are' if len(axes) > 1 else 'is'} on other axes "
                     f"(e.g. {e.axis[0]} points on {_span(e.axis[1], e.axis[2], e.kind[1])}): "
                     "use --axis common to interpolate onto the range all files cover")
    return lines


def main(argv: list[str]) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    out = pathlib.Path(args.out)
    if out.suffix.lower() not in FORMATS:
        parser.error(f"--out must end in {', '.join(FORMATS)}: {args.out}")
    if args.workers is not None and args.workers < 1:
        parser.error("--workers must be at least 1")
    try:
        axis = parse_axis(args.axis)
        check_block(args.block or "auto")
    except ValueError as error:
        parser.error(str(error))
    paths: list[str] = []
    passed_over: list[str] = []
    for source in args.sources:
        found = find_files(source, recursive=args.recursive)
        paths += found.paths
        passed_over += found.passed_over
    if not paths:
        parser.error("no files match " + " ".join(args.sources))
    if passed_over:
        print(f"{PROG}: passed over {len(passed_over)} entries that are not regular files "
              f"({_names(passed_over)}); name a FIFO explicitly to read it", file=sys.stderr)
    try:
        collection = read_collection(paths, args.block or "auto", axis=axis, workers=args.workers,
                                     progress=not args.no_progress)
    except ValueError as error:  # files that share no x range
        print(f"{PROG}: {error}", file=sys.stderr)
        return 1
    excluded = {e.path for e in collection.excluded if e.why in ("kind", "axis")}
    for path, reason in collection.failed:
        if path not in excluded:
            print(f"{PROG}: {path}: {reason}", file=sys.stderr)
    for line in advice(collection, len(paths)):
        print(f"{PROG}: {line}", file=sys.stderr)
    if len(collection):
        try:
            _write(collection, out)
        except (OSError, ImportError, ValueError) as error:
            print(f"{PROG}: {out}: {type(error).__name__}: {error}", file=sys.stderr)
            return 1
        print(f"{PROG}: {len(collection)} spectra x {collection.x.size} points -> {out}", file=sys.stderr)
    else:
        print(f"{PROG}: no file could be read; nothing written", file=sys.stderr)
    return 1 if collection.failed else 0
