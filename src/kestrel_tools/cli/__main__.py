"""kestrel [FILE] — says whether FILE is an OPUS file, lists its data blocks and pictures.

With no FILE it looks at the bundled demo file. `kestrel COMMAND ...` runs a
subcommand (`kestrel COMMAND --help` tells more); each lives in a module of its own.
"""

from __future__ import annotations

import argparse
import importlib
import sys

from kestrel_tools.data import DEMO_FILE
from kestrel_tools.cli.export import write_csv
from kestrel_tools.cli.images import show_pictures
from kestrel_tools._read_errors import READ_ERRORS
from kestrel_tools.cli.listing import NotOpusFile, print_block, print_listing


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="kestrel", description="Look inside OPUS spectroscopy files.",
        epilog="subcommands: " + ", ".join(f"kestrel {name} ..." for name in SUBCOMMANDS)
        + " (each with --help)")
    parser.add_argument("file", nargs="?", help="an OPUS file (default: the bundled demo file)")
    parser.add_argument("--block", nargs=3, metavar=("TYPE", "DIMS", "DERIV"),
                        help="one data block, as listed (e.g. AB 2D NONE)")
    parser.add_argument("--csv", action="store_true", help="with --block: write the spectrum as CSV (its x axis, then value) to standard output")
    parser.add_argument("--save-images", metavar="DIR", help="write each picture of the file to DIR")
    return parser


# subcommand -> the module whose main(argv) -> int runs it
SUBCOMMANDS: dict[str, str] = {
    "collect": "kestrel_tools.cli.collect_command",
    "convert": "kestrel_tools.cli.convert",
    "plot": "kestrel_tools.cli.plot",
    "info": "kestrel_tools.cli.info",
    "refs": "kestrel_tools.cli.refs",
}


def main(argv: list[str] | None = None) -> int:
    argv = sys.argv[1:] if argv is None else list(argv)
    if argv and argv[0] in SUBCOMMANDS:
        status: int = importlib.import_module(SUBCOMMANDS[argv[0]]).main(argv[1:])
        return status
    parser = build_parser()
    args = parser.parse_args(argv)
    path = args.file or str(DEMO_FILE)
    if args.csv and not args.block:
        parser.error("--csv needs --block TYPE DIMS DERIV")
    try:
        if args.csv:
            write_csv(path, args.block)
        elif args.block:
            print_block(path, tuple(args.block))
        else:
            print_listing(path)
            show_pictures(path, save_to=args.save_images)
    except BrokenPipeError:
        # The reader of our output went away (| head): not an error of ours.
        sys.stderr.close()
        return 0
    except NotOpusFile as error:
        print(f"kestrel: {path}: {error}", file=sys.stderr)
        return 1
    except READ_ERRORS as error:
        print(f"kestrel: {path}: {type(error).__name__}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
