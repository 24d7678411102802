"""kestrel [FILE] — says whether FILE is an OPUS file and lists its data blocks.

With no FILE it looks at the bundled demo file.
"""

import argparse
import sys

import kestrel

from kestrel_cli import DEMO_FILE
from kestrel_cli.listing import print_listing


def build_parser():
    parser = argparse.ArgumentParser(prog="kestrel", description="Look inside OPUS spectroscopy files.")
    parser.add_argument("file", nargs="?", help="an OPUS file (default: the bundled demo file)")
    return parser


def main(argv=None):
    args = build_parser().parse_args(argv)
    path = args.file or str(DEMO_FILE)
    try:
        print_listing(path)
    except (OSError, ValueError, KeyError, IndexError, kestrel.struct_error) as error:
        print(f"kestrel: {path}: {type(error).__name__}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
