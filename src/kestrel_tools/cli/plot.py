"""kestrel plot FILE ... [--block T D V] [--out PICTURE] [--at X | --band A:B] — a picture of a block.

A spectrum against its x axis (wavenumbers from high to low; Raman shift for
Raman spectra); a map as an image on its coordinates in micrometres, at one x
value (--at 1650) or integrated over a band (--band 1600:1700; the whole x range
by default), with a colour bar; a series as a heatmap of time against x;
multi-region points at their coordinates. --out names the picture (its suffix
picks PNG, PDF or SVG), or a folder for several files; by default each
picture is FILE's name + .png, in the current folder. Needs matplotlib
(pip install "kestrel-opus[plot]"); draws without a display.
"""

from __future__ import annotations

import argparse
import os
import pathlib

import kestrel

from kestrel_tools._read_errors import READ_ERRORS
from kestrel_tools.cli.describe import note_sparse, readable_summary
from kestrel_tools.cli.grammar import UsageError
from kestrel_tools.cli.inputs import gather
from kestrel_tools.cli.outputs import Outputs
from kestrel_tools.cli.session import Session, quiet_warnings
from kestrel_tools.metadata import primary_block

FORMATS = (".png", ".pdf", ".svg")


def run(args: argparse.Namespace) -> int:
    session = Session(args)
    outputs = Outputs(session, args.force)
    files = gather(session, args.inputs)
    folder = _out_folder(args.out, len(args.inputs) > 1 or len(files) > 1)
    if args.out and folder is None and pathlib.Path(args.out).suffix.lower() not in FORMATS:
        raise UsageError(f"--out {args.out}: a picture ends in {', '.join(FORMATS)}")
    try:
        from kestrel_tools.plot import plot_result  # imports matplotlib only now
    except ImportError as error:
        session.fail(None, str(error))
        return session.status
    with quiet_warnings():
        for path in files:
            target = (folder / (pathlib.Path(path).name + ".png") if folder is not None
                      else pathlib.Path(args.out or pathlib.Path(path).name + ".png"))
            if not outputs.claim(target):
                continue
            try:
                block = args.block or primary_block(path)
                entry = readable_summary(session, path, block)
                if entry is None:
                    continue
                note_sparse(session, path, entry)
                result = kestrel.getOpusData(path, block)
            except READ_ERRORS as error:
                session.fail(path, error)
                continue
            try:
                figure = plot_result(result, at=args.at, band=args.band, trace=args.trace)
            except (ValueError, TypeError) as error:  # x outside the block, a trace it lacks
                raise UsageError(f"{path}: {error}") from None
            fmt = target.suffix.lower().lstrip(".")
            if outputs.write(target, lambda temporary: figure.savefig(temporary, dpi=args.dpi, format=fmt)):
                session.say(str(target))
    return session.status


def _out_folder(out: str | None, several: bool) -> pathlib.Path | None:
    """The folder the pictures go to, when --out names one (or must, for several files)."""
    if out is None:
        return None
    if several or out.endswith(("/", os.sep)) or os.path.isdir(out):
        return pathlib.Path(out)
    return None
