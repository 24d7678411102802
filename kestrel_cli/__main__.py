"""kestrel [FILE] [--save-images DIR] — says whether FILE is an OPUS file and
lists its data blocks and pictures; --save-images writes the pictures to DIR.

With no FILE it looks at the bundled demo file.
"""

import argparse
import sys

import kestrel

from kestrel_cli import DEMO_FILE
from kestrel_cli.images import show_pictures
from kestrel_cli.listing import print_listing


def build_parser():
    parser = argparse.ArgumentParser(prog="kestrel", description="Look inside OPUS spectroscopy files.")
    parser.add_argument("file", nargs="?", help="an OPUS file (default: the bundled demo file)")
    parser.add_argument("--save-images", metavar="DIR", help="write each picture of the file to DIR")
    return parser


def main(argv=None):
    args = build_parser().parse_args(argv)
    path = args.file or str(DEMO_FILE)
    try:
        print_listing(path)
        show_pictures(path, save_to=args.save_images)
    except (OSError, ValueError, KeyError, IndexError, TypeError, AttributeError, MemoryError,
            kestrel.struct_error) as error:
        print(f"kestrel: {path}: {type(error).__name__}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
