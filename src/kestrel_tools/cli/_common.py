"""What the subcommands share: argument parsing that returns exit statuses,
the --block option, and reporting a file that failed."""

from __future__ import annotations

import argparse
import contextlib
import sys
import warnings
from collections.abc import Iterator
from typing import NoReturn

from kestrel_tools._read_errors import READ_ERRORS
from kestrel_tools.metadata import MetadataWarning, Triple

__all__ = ["READ_ERRORS", "Triple", "UsageError", "Parser", "command_parser", "parse", "add_block_option", "block_of",
           "report", "quiet_warnings"]

# Exit statuses of every command.
OK, READ_FAILED, USAGE = 0, 1, 2


class UsageError(Exception):
    """The command line asks for something the command cannot do."""


class Parser(argparse.ArgumentParser):
    """An ArgumentParser whose errors are raised, so that main() returns its status."""

    def error(self, message: str) -> NoReturn:
        raise UsageError(message)


def command_parser(prog: str, doc: str) -> Parser:
    """The parser of a subcommand, described by its module docstring after the first paragraph."""
    return Parser(prog=prog, description=doc.split("\n\n", 1)[1], formatter_class=argparse.RawDescriptionHelpFormatter)


def parse(parser: Parser, argv: list[str]) -> argparse.Namespace | int:
    """The parsed arguments, or the exit status when parsing ended the command (--help, an error)."""
    try:
        return parser.parse_args(argv)
    except UsageError as error:
        return usage_error(parser, str(error))
    except SystemExit as stop:  # --help and --version exit through argparse
        return stop.code if isinstance(stop.code, int) else OK


def usage_error(parser: argparse.ArgumentParser, message: str) -> int:
    parser.print_usage(sys.stderr)
    print(f"{parser.prog}: error: {message}", file=sys.stderr)
    return USAGE


def add_block_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--block", nargs=3, metavar=("TYPE", "DIMS", "DERIV"),
                        help="the data block to use, as listed (e.g. AB 2D NONE); default: the file's main block")


def block_of(args: argparse.Namespace) -> Triple | None:
    block = args.block
    return None if block is None else (block[0], block[1], block[2])


def report(path: object, error: BaseException | str) -> None:
    """One line on standard error naming the file and what went wrong."""
    what = error if isinstance(error, str) else f"{type(error).__name__}: {error}"
    # Errors of this package already name their file; say it once.
    print(f"kestrel: {what}" if str(path) in what else f"kestrel: {path}: {what}", file=sys.stderr)


@contextlib.contextmanager
def quiet_warnings() -> Iterator[None]:
    """Inside the block, warnings about missing or odd metadata fields are not shown.

    The commands show a missing field as empty; a warning per field and file
    would bury the lines that matter.
    """
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", MetadataWarning)
        yield
