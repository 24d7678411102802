"""kestrel refs FILE... [--url PREFIX] [--out refs.json] — byte-range references for Zarr readers.

Writes the references (fsspec ReferenceFileSystem JSON, version 1) that let
xarray's zarr engine or plain zarr read the files' data blocks straight from
the files, without kestrel. Each FILE is a path or a URL (s3://, https://, ...).
Several files are stacked along a "file" dimension. --url PREFIX says where
readers will find the files: PREFIX followed by each file's name (by default
the files' own URLs or absolute paths). Blocks that cannot be referenced
exactly are reported on standard error and left out.
"""

from __future__ import annotations

import json
import os
import sys
from typing import Any

from kestrel_tools.cli._common import (OK, READ_ERRORS, READ_FAILED, USAGE, add_block_option, block_of,
                                       command_parser, parse, Parser)


def build_parser() -> Parser:
    parser = command_parser("kestrel refs", __doc__)
    parser.add_argument("files", nargs="+", metavar="FILE", help="OPUS files, as paths or URLs")
    parser.add_argument("--url", metavar="PREFIX", help="where readers find the files: PREFIX + each file's name")
    parser.add_argument("--out", metavar="JSON", help="the file to write (default: standard output)")
    parser.add_argument("--storage-option", action="append", default=[], metavar="KEY=VALUE",
                        help="an fsspec storage option for URL files (repeatable), e.g. anon=true")
    add_block_option(parser)
    return parser


def _option_value(text: str) -> Any:
    try:
        return json.loads(text)
    except ValueError:
        return text


def main(argv: list[str]) -> int:
    from kestrel_tools.references import combine_references, references

    args = parse(build_parser(), argv)
    if isinstance(args, int):
        return args
    options = {}
    for item in args.storage_option:
        key, sep, value = item.partition("=")
        if not sep:
            print(f"kestrel refs: error: --storage-option takes KEY=VALUE, not {item!r}", file=sys.stderr)
            return USAGE
        options[key] = _option_value(value)
    block = block_of(args)
    made = []
    for name in args.files:
        url = None if args.url is None else args.url.rstrip("/") + "/" + os.path.basename(name.rstrip("/"))
        try:
            refs = references(name, url=url, blocks=None if block is None else [block],
                              storage_options=options or None)
        except (*READ_ERRORS, ImportError) as error:
            print(f"kestrel refs: {name}: {type(error).__name__}: {error}", file=sys.stderr)
            return READ_FAILED
        top = json.loads(refs["refs"][".zattrs"])
        for skipped in top["skipped"]:
            print(f"kestrel refs: {name}: block {skipped['block']} skipped: {skipped['reason']}", file=sys.stderr)
        made.append(refs)
    try:
        result = made[0] if len(made) == 1 else combine_references(made)
    except ValueError as error:
        print(f"kestrel refs: {error}", file=sys.stderr)
        return READ_FAILED
    text = json.dumps(result)
    if args.out:
        with open(args.out, "w", encoding="utf-8") as f:
            f.write(text)
    else:
        sys.stdout.write(text + "\n")
    return OK if json.loads(result["refs"][".zattrs"])["groups"] else READ_FAILED
