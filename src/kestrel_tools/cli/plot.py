"""kestrel plot FILE [--block T D V] [--out plot.png] [--at X | --band A:B] — a picture of a block.

A spectrum against x with labelled axes (wavenumbers from high to low); a map
as an image at one x value (--at 1650) or integrated over a band (--band
1600:1700; the whole x range by default) on the map's coordinates, with a colour
bar; a series as a heatmap of time against x; multi-region points at their
coordinates. Needs matplotlib (pip install "kestrel-opus[plot]"); draws without a display.
"""

from __future__ import annotations

import argparse
import pathlib

import kestrel

from kestrel_tools.cli._common import (OK, READ_ERRORS, READ_FAILED, Parser, add_block_option, block_of,
                                       command_parser, parse, report, usage_error)
from kestrel_tools.metadata import primary_block


def build_parser() -> Parser:
    parser = command_parser("kestrel plot", __doc__)
    parser.add_argument("file", help="an OPUS file")
    add_block_option(parser)
    parser.add_argument("--out", metavar="PNG", help="the picture to write (default: FILE's name + .png, here)")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--at", type=float, metavar="X", help="maps: the values at the x nearest to X")
    where.add_argument("--band", type=band, metavar="A:B", help="maps: the values integrated from x = A to B")
    parser.add_argument("--trace", metavar="N_OR_LABEL", help="trace maps: which trace (default: the first)")
    parser.add_argument("--dpi", type=int, default=120, help="resolution of the picture (default: 120)")
    return parser


def band(text: str) -> tuple[float, float]:
    """"1600:1700" -> (1600.0, 1700.0)."""
    low, sep, high = text.partition(":")
    try:
        if not sep:
            raise ValueError
        return float(low), float(high)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected A:B with two numbers, got {text!r}") from None


def main(argv: list[str]) -> int:
    parser = build_parser()
    args = parse(parser, argv)
    if isinstance(args, int):
        return args
    if args.dpi <= 0 or args.dpi > 1200:
        return usage_error(parser, "--dpi must lie between 1 and 1200")
    out = pathlib.Path(args.out) if args.out else pathlib.Path(pathlib.Path(args.file).name + ".png")
    from kestrel_tools.plot import plot_result  # imports nothing heavy until a plot is drawn

    try:
        block = block_of(args) or primary_block(args.file)
        result = kestrel.getOpusData(args.file, block)
    except READ_ERRORS as error:
        report(args.file, error)
        return READ_FAILED
    try:
        figure = plot_result(result, at=args.at, band=args.band, trace=args.trace)
    except (ValueError, TypeError) as error:  # x outside the block, a trace it lacks
        return usage_error(parser, str(error))
    except ImportError as error:
        report(args.file, error)
        return READ_FAILED
    try:
        figure.savefig(out, dpi=args.dpi)
    except (OSError, ValueError) as error:
        report(out, error)
        return READ_FAILED
    print(out)
    return OK
