"""The grammar of the `kestrel` command: every subcommand's options, declared in one place.

Five options mean the same in every subcommand:

- ``--block TYPE DIMS DERIV``: the data block to use, as listed (``AB 2D NONE``);
  without it a file's main block (the listing and ``info``: every block);
- ``--out PATH``: where the output goes (a file, or a folder where a command
  writes one output per input); a missing folder is created, a path that
  cannot be a folder is refused before any work;
- ``--force``: replace outputs that exist (never done without it);
- ``--quiet``: print nothing but failures;
- ``--verbose``: with each failure, the full error as Python raised it.

Every subcommand takes inputs as files, folders (their OPUS files, by name) or
quoted glob patterns. Exit statuses: 0 every file and requested block was read,
1 one could not be read or written, 2 the command line is wrong.

>>> args = parse_command("plot", ["a.0", "b.0", "--block", "ab", "3d", "none", "--out", "pictures"])
>>> args.inputs, args.block, args.out
(['a.0', 'b.0'], ('AB', '3D', 'NONE'), 'pictures')
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Callable
from typing import NamedTuple, NoReturn

from kestrel_tools import model

# Exit statuses of every command.
OK, FAILED, USAGE = 0, 1, 2

Block = tuple[str, str, str]


class UsageError(Exception):
    """The command line asks for something the command cannot do (exit status 2)."""


class Parser(argparse.ArgumentParser):
    """An ArgumentParser whose errors are raised, so that the command returns its status."""

    def error(self, message: str) -> NoReturn:
        raise UsageError(message)


class Command(NamedTuple):
    """One subcommand: the module whose ``run(args) -> int`` runs it, a line of help, its own options."""

    module: str
    summary: str
    usage: str
    options: Callable[[argparse.ArgumentParser], None]


def block_argument(values: list[str]) -> Block:
    """A --block triple, upper-cased; a name no block can have is a usage error.

    >>> block_argument(["ab", "3d", "none"])
    ('AB', '3D', 'NONE')
    """
    block = (values[0].upper(), values[1].upper(), values[2].upper())
    name = " ".join(values)
    if model.block_type(block[0]) is None:
        raise UsageError(f"--block {name}: {values[0]} is not a data block type; the types are "
                         + ", ".join(model.BLOCK_TYPES) + " (and each with -CH2 for a second channel)")
    if block[1] not in ("2D", "3D"):
        raise UsageError(f"--block {name}: the dimensions are 2D or 3D, not {values[1]}")
    if block[2] not in model.DERIVATIVES:
        raise UsageError(f"--block {name}: the derivative is one of {', '.join(model.DERIVATIVES)}, not {values[2]}")
    return block


def _listing(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--csv", action="store_true",
                        help="with --block: the block's x and values as CSV (on standard output or to --out)")
    parser.add_argument("--save-images", metavar="DIR", help="write each picture of the file(s) to DIR")


def _info(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--json", action="store_true",
                        help="one JSON object per file (a list of them for several files)")


def _plot(parser: argparse.ArgumentParser) -> None:
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--at", type=float, metavar="X", help="maps: the values at the x nearest to X")
    where.add_argument("--band", type=_band, metavar="A:B", help="maps: the values integrated from x = A to B")
    parser.add_argument("--trace", metavar="N_OR_LABEL", help="trace maps: which trace (default: the first)")
    parser.add_argument("--dpi", type=_dpi, default=120, help="resolution of the picture (default: 120)")


def _convert(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--to", required=True, choices=("csv", "jdx", "nc", "parquet"), help="the output format")
    parser.add_argument("--combine", action="store_true",
                        help="one table per folder: its files' spectra as rows (csv and parquet)")
    parser.add_argument("--layout", choices=("wide", "long"),
                        help="tables: one spectrum per row (wide) or one value per row (long)")


def _collect(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--axis", default="same", metavar="same|common|START:STOP:STEP",
                        help="same: the x axis most files share (default); common: interpolate onto the range "
                             "all files cover at the finest spacing; START:STOP:STEP: interpolate onto that grid")
    parser.add_argument("--recursive", action="store_true", help="read the subfolders of folders too")
    parser.add_argument("--workers", type=_positive, default=None, help="reading threads (default: CPU count)")
    parser.add_argument("--no-progress", action="store_true", help="no progress bar")


def _refs(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--url", metavar="PREFIX", help="where readers find the files: PREFIX + each file's name")
    parser.add_argument("--storage-option", action="append", default=[], metavar="KEY=VALUE",
                        help="an fsspec storage option for URL files (repeatable), e.g. anon=true")


def _band(text: str) -> tuple[float, float]:
    """"1600:1700" -> (1600.0, 1700.0)."""
    low, sep, high = text.partition(":")
    try:
        if not sep:
            raise ValueError
        return float(low), float(high)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected A:B with two numbers, got {text!r}") from None


def _whole(low: int, high: int | None, wanted: str) -> Callable[[str], int]:
    """An argument type: a whole number from `low` to `high` (None: no bound), else "WANTED, not 'TEXT'"."""
    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            value = low - 1
        if value < low or (high is not None and value > high):
            raise argparse.ArgumentTypeError(f"{wanted}, not {text!r}")
        return value
    return parse


_dpi = _whole(1, 1200, "a resolution between 1 and 1200 dots per inch")
_positive = _whole(1, None, "a whole number of at least 1")


# The subcommands, in the order `kestrel --help` lists them. The listing (no
# subcommand) is the entry "".
COMMANDS: dict[str, Command] = {
    "": Command("kestrel_tools.cli.listing", "list the data blocks and pictures of OPUS files",
                "kestrel [FILE ...]", _listing),
    "info": Command("kestrel_tools.cli.info", "what files hold, as text or JSON, for scripts and bug reports",
                    "kestrel info FILE ...", _info),
    "plot": Command("kestrel_tools.cli.plot", "a picture of a block of each file (PNG, PDF or SVG)",
                    "kestrel plot FILE ...", _plot),
    "convert": Command("kestrel_tools.cli.convert", "each file to CSV, JCAMP-DX, netCDF or Parquet",
                       "kestrel convert FILE_OR_DIR ... --to FORMAT", _convert),
    "collect": Command("kestrel_tools.cli.collect_command", "the spectra of many files into one table",
                       "kestrel collect DIR_OR_GLOB ... --out FILE", _collect),
    "refs": Command("kestrel_tools.cli.refs", "byte-range references that let Zarr readers read the files",
                    "kestrel refs FILE_OR_URL ... --out JSON", _refs),
}

# What --out names for each command, for its help.
_OUT_HELP = {
    "": "write the listing (or the CSV) to this file instead of standard output",
    "info": "write the text or JSON to this file instead of standard output",
    "plot": "the picture to write (its suffix picks the format: .png, .pdf, .svg); a folder for several files "
            "(default: each FILE's name + .png, here)",
    "convert": "the folder for the outputs (default: beside each input)",
    "collect": "the table to write: FILE.csv, FILE.parquet or FILE.nc",
    "refs": "the JSON file to write (default: standard output)",
}


def build_parser(name: str, description: str = "") -> Parser:
    """The parser of subcommand `name` ("" for the listing), with the options every command shares."""
    command = COMMANDS[name]
    prog = f"kestrel {name}".strip()
    parser = Parser(prog=prog, description=description or command.summary,
                    formatter_class=argparse.RawDescriptionHelpFormatter,
                    epilog=_epilog() if name == "" else None)
    inputs = {"": "*", "collect": "+"}.get(name, "+")
    parser.add_argument("inputs", nargs=inputs, metavar="FILE", help=(
        ("OPUS files as paths or URLs (s3://, https://, ...)" if name == "refs" else
         "OPUS files, folders (their OPUS files) or quoted glob patterns")
        + (" (default: the bundled demo file)" if name == "" else "")))
    parser.add_argument("--block", nargs=3, metavar=("TYPE", "DIMS", "DERIV"),
                        help="the data block to use, as listed (e.g. AB 2D NONE); default: "
                        + ("every block" if name in ("", "info", "refs") else "each file's main block"))
    parser.add_argument("--out", metavar="PATH", required=name == "collect", help=_OUT_HELP[name])
    parser.add_argument("--force", action="store_true", help="replace outputs that exist")
    talk = parser.add_mutually_exclusive_group()
    talk.add_argument("--quiet", "-q", action="store_true", help="print nothing but failures")
    talk.add_argument("--verbose", "-v", action="store_true", help="with each failure, the full Python error")
    command.options(parser)
    if name == "":
        parser.add_argument("--version", action="store_true", help="the versions of kestrel, numpy and Python")
    return parser


def _epilog() -> str:
    lines = ["subcommands (kestrel COMMAND --help tells more):"]
    lines += [f"  {c.usage:<44} {c.summary}" for name, c in COMMANDS.items() if name]
    lines += ["", "exit status: 0 every file and block read, 1 one could not be read or written, 2 usage"]
    return "\n".join(lines)


def parse_command(name: str, argv: list[str]) -> argparse.Namespace:
    """The arguments of subcommand `name`; raises UsageError, and SystemExit for --help."""
    args = build_parser(name).parse_args(argv)
    if args.block is not None:
        args.block = block_argument(args.block)
    return args


def usage_error(name: str, message: str) -> int:
    """Say what is wrong with the command line, under the usage line; the status 2."""
    parser = build_parser(name)
    parser.print_usage(sys.stderr)
    print(f"{parser.prog}: error: {message}", file=sys.stderr)
    return USAGE
