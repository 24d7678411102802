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

import argparse
import json
import os
import pathlib
from typing import Any

from kestrel_tools._read_errors import READ_ERRORS
from kestrel_tools.cli.grammar import UsageError
from kestrel_tools.cli.inputs import gather
from kestrel_tools.cli.messages import cut_short
from kestrel_tools.cli.outputs import Outputs
from kestrel_tools.cli.session import Session


def _option_value(text: str) -> Any:
    try:
        return json.loads(text)
    except ValueError:
        return text


def run(args: argparse.Namespace) -> int:
    from kestrel_tools.references import combine_references, references

    options = {}
    for item in args.storage_option:
        key, sep, value = item.partition("=")
        if not sep:
            raise UsageError(f"--storage-option takes KEY=VALUE, not {item!r}")
        options[key] = _option_value(value)
    session = Session(args)
    outputs = Outputs(session, args.force)
    if args.out and not outputs.claim(pathlib.Path(args.out)):
        return session.status
    made = []
    # Local files follow the rule of every command (folders opened, patterns matched); URLs are taken as given.
    names: list[str] = []
    for name in args.inputs:
        names += [name] if "://" in name else gather(session, [name])
    for name in names:
        url = None if args.url is None else args.url.rstrip("/") + "/" + os.path.basename(name.rstrip("/"))
        try:
            refs = references(name, url=url, blocks=None if args.block is None else [args.block],
                              storage_options=options or None)
        except READ_ERRORS + (ImportError, EOFError) as error:
            session.fail(name, error)
            continue
        top = json.loads(refs["refs"][".zattrs"])
        said: set[str] = set()
        for skipped in top["skipped"]:
            reason = str(skipped["reason"])
            if not reason.startswith("it cannot be read"):  # kept in the file, read another way
                session.note(name, f"block {skipped['block']} skipped: {reason}")
            elif "://" not in name and (cut := cut_short(name)) is not None:
                if cut not in said:  # a cut that every block meets is said once
                    session.fail(name, cut)
                    said.add(cut)
                else:
                    session.failures += 1
            else:
                session.fail(name, f"block {skipped['block']} {reason}")
        made.append(refs)
    if not made:
        return session.status
    try:
        result = made[0] if len(made) == 1 else combine_references(made)
    except ValueError as error:
        session.fail(args.out or "references", error)
        return session.status
    if not json.loads(result["refs"][".zattrs"])["groups"]:
        session.fail(args.out or names[0], "no block could be referenced; nothing written")
        return session.status
    text = json.dumps(result)
    if args.out:
        outputs.write(pathlib.Path(args.out), lambda target: target.write_text(text, encoding="utf-8"))
    else:
        print(text)
    return session.status
