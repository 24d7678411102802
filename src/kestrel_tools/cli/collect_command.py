"""kestrel collect DIR_OR_GLOB... --out FILE.csv|.parquet|.nc

Reads the single spectrum of every file into one matrix and writes it with the
export writers: CSV and Parquet one row per file (its path, the block read, what
the file says about the measurement, then one column per x value), netCDF with
the same columns as coordinates along "file". The collection holds
the kind of spectrum most files share, on the x axis most of them share
(--axis same) or interpolated onto a common grid (--axis common, or
START:STOP:STEP); what it leaves out is said with the option that includes it.
Failed files are listed on stderr. Exit status: 0 all read, 1 a file could not
be read or was left out, 2 usage.
"""

from __future__ import annotations

import argparse
import math
import os
import pathlib
from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

from kestrel_tools._collection_choice import Excluded, describe_kind
from kestrel_tools.cli.grammar import UsageError
from kestrel_tools.cli.inputs import gather
from kestrel_tools.cli.describe import plural
from kestrel_tools.cli.messages import reason_words
from kestrel_tools.cli.outputs import Outputs
from kestrel_tools.cli.session import Session, quiet_warnings
from kestrel_tools.collection import Collection, check_block, read_collection

FORMATS = (".csv", ".parquet", ".nc")
# An explicit grid longer than this is a typo, not a spectrum.
MAX_GRID = 10_000_000


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
    grid: npt.NDArray[np.float64] = start + np.arange(count, dtype=np.float64) * step
    return grid


def _write(collection: Collection, target: pathlib.Path, suffix: str) -> None:
    from kestrel_tools.export import write_csv, write_netcdf, write_parquet

    writers = {".csv": write_csv, ".parquet": write_parquet, ".nc": write_netcdf}
    with quiet_warnings():  # a field a file lacks is an empty cell, not a line per file on stderr
        writers[suffix](collection, target)


def _number(value: float) -> str:
    """An axis end as people write it: 3998.3, 400, 0.25."""
    if value == round(value):
        return str(int(value))
    return f"{value:.1f}" if abs(value) >= 100 else f"{value:.4g}"


def _span(first: float, last: float, unit: str | None) -> str:
    joint = " to " if min(first, last) < 0 else "-"
    return f"{_number(first)}{joint}{_number(last)}" + (f" {unit}" if unit else "")


def _names(paths: Sequence[str], base: str = "", limit: int = 3) -> str:
    """Files as a list in words, each by its name, or by its path below `base` when given."""
    names = [os.path.relpath(os.path.abspath(p), base) if base else os.path.basename(p) for p in paths]
    if len(names) <= limit:
        return names[0] if len(names) == 1 else ", ".join(names[:-1]) + " and " + names[-1]
    return ", ".join(names[:limit]) + f" and {len(names) - limit} more"


def advice(collection: Collection, total: int, interpolate: str = "use --axis common") -> list[str]:
    """What was left out for its kind or axis, and the option that includes it
    (`interpolate` says how to interpolate, for a command without --axis)."""
    lines: list[str] = []
    if not len(collection) or not collection.x.size:
        return lines
    held_one, held = describe_kind((collection.y_kind or "", collection.x_unit))
    # Files of one name in several folders (a recursive read) are named by their path below the shared folder.
    paths = [str(p) for p in collection.files] + [e.path for e in collection.excluded]
    base = ""
    if len({os.path.basename(p) for p in paths}) < len(paths):
        try:
            base = os.path.commonpath([os.path.abspath(p) for p in paths])
        except ValueError:  # paths on different drives
            base = ""
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
            names = f"{_names([e.path for e in files], base)} {'are' if several else 'is'}"
            if other[0] == collection.y_kind:  # the same values on another x unit: no --block helps
                parts.append(f"{names} in {other[1] or 'no x unit'}: collect {'them' if several else 'it'} "
                             "apart (a collection holds one x unit)")
            else:
                parts.append(f"{names} {many if several else one}: use --block {block} to collect {many}")
        what = f"is {held_one}" if of_kind == 1 else f"are {held}"
        lines.append(f"{of_kind} of {total} files {what}{'' if axes else ' on ' + span}; " + "; ".join(parts))
    if axes:
        e = axes[0]
        lines.append(f"{len(collection)} of {of_kind} {held} share {collection.x.size} points on {span}; "
                     f"{_names([e.path for e in axes], base)} {'are' if len(axes) > 1 else 'is'} on other axes "
                     f"(e.g. {e.axis[0]} points on {_span(e.axis[1], e.axis[2], e.kind[1])}): "
                     f"{interpolate} to interpolate onto the range all files cover")
    return lines


def grid_notes(collection: Collection, axis: str | npt.NDArray[np.float64]) -> list[str]:
    """What an interpolated collection's grid leaves out: files that narrow the
    common range to less than half of what most files cover, or files that
    cover only part of an explicit grid (NaN elsewhere)."""
    if isinstance(axis, str) and axis == "same" or not len(collection) or not collection.x.size:
        return []
    low, high = collection.x_ranges.min(axis=1), collection.x_ranges.max(axis=1)
    first, last = float(collection.x.min()), float(collection.x.max())
    unit = collection.x_unit
    if isinstance(axis, str):  # the common range
        if last - first >= 0.5 * float(np.median(high - low)):
            return []
        top, bottom = int(np.argmin(high)), int(np.argmax(low))
        ends = [f"{where}by {_names([str(collection.files[at])])} "
                f"({_span(collection.x_ranges[at, 0], collection.x_ranges[at, 1], unit)})"
                for where, at in ((("at the top ", top), ("at the bottom ", bottom)) if top != bottom else (("", top),))]
        return [f"the range all {len(collection)} files cover is only {_span(collection.x[0], collection.x[-1], unit)} "
                f"({collection.x.size} points), set {' and '.join(ends)}; leave out the files that narrow it, or use "
                "--axis START:STOP:STEP (NaN where a file has no values)"]
    partial = np.flatnonzero((low > first) | (high < last))
    if not partial.size:
        return []
    e = int(partial[0])
    return [f"{_names([str(collection.files[i]) for i in partial])} "
            f"{'cover' if partial.size > 1 else 'covers'} only part of the grid "
            f"(e.g. {_span(collection.x_ranges[e, 0], collection.x_ranges[e, 1], unit)}): NaN where a file has no values"]


def report(session: Session, collection: Collection, total: int, where: str,
           interpolate: str = "use --axis common") -> None:
    """The files that failed, each on its line; those left out for their kind or
    axis together, with the option that includes them."""
    excluded = {e.path for e in collection.excluded if e.why in ("kind", "axis")}
    for path, reason in collection.failed:
        if path in excluded:  # said below, with the option that includes them
            session.failures += 1
        else:
            session.fail(path, reason_words(reason, path))
    for line in advice(collection, total, interpolate):
        session.fail(where, line, count=False)


def run(args: argparse.Namespace) -> int:
    out = pathlib.Path(args.out)
    if out.suffix.lower() not in FORMATS:
        raise UsageError(f"--out must end in {', '.join(FORMATS)}: {args.out}")
    try:
        axis = parse_axis(args.axis)
        check_block(args.block or "auto")
    except ValueError as error:
        raise UsageError(str(error)) from None
    session = Session(args)
    outputs = Outputs(session, args.force)
    if not outputs.claim(out):
        return session.status
    paths = gather(session, args.inputs, recursive=args.recursive, every_file=True, recursive_option=True)
    # The table of an earlier run in the folder read is this run's output, not one of its inputs.
    output = os.path.realpath(out)
    paths = [p for p in paths if os.path.realpath(p) != output]
    if not paths:
        return session.status
    where = args.inputs[0] if len(args.inputs) == 1 else "collect"
    try:
        collection = read_collection(paths, args.block or "auto", axis=axis, workers=args.workers,
                                     progress=not (args.no_progress or session.quiet))
    except ValueError as error:  # files that share no x range
        session.fail(where, error)
        return session.status
    report(session, collection, len(paths), where)
    for line in grid_notes(collection, axis):
        session.note(where, line)
    if not len(collection):
        session.fail(out, "no file could be read; nothing written")
        return session.status
    try:
        written = outputs.write(out, lambda target: _write(collection, target, out.suffix.lower()))
    except (ImportError, ValueError) as error:
        session.fail(out, error)
        return session.status
    if written:
        session.note(out, f"{plural(len(collection), 'spectrum')} x {collection.x.size} points written")
    return session.status
