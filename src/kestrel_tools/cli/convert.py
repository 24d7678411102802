"""kestrel convert FILE_OR_DIR... --to csv|jdx|nc|parquet — OPUS files to standard formats.

One output per input file, named after it (``sample.0`` -> ``sample.0.csv``),
beside it or in --out; with --combine one table per folder (CSV or Parquet). An
existing output is kept unless --force is given. A file that fails is reported on
standard error and the others are converted; the exit status is 0 when every
file was converted, 1 when one was not, 2 for a usage error.
"""

from __future__ import annotations

import argparse
import pathlib
import sys
from typing import Any

import kestrel

from kestrel_tools.cli._common import (OK, READ_ERRORS, READ_FAILED, Parser, Triple, add_block_option,
                                       block_of, command_parser, parse, quiet_metadata, report, usage_error)
from kestrel_tools.collection import read_collection
from kestrel_tools.export import write_csv, write_jcamp, write_netcdf, write_parquet
from kestrel_tools.metadata import file_info, primary_block
from kestrel_tools.progress import Progress

FORMATS = {"csv": ".csv", "jdx": ".jdx", "nc": ".nc", "parquet": ".parquet"}
TABLE_FORMATS = ("csv", "parquet")
# What a writer or an optional import can raise for one input, beside the read errors.
CONVERT_ERRORS = READ_ERRORS + (ImportError, RuntimeError)


def build_parser() -> Parser:
    parser = command_parser("kestrel convert", __doc__)
    parser.add_argument("inputs", nargs="+", metavar="FILE_OR_DIR", help="OPUS files, or folders of them")
    parser.add_argument("--to", required=True, choices=sorted(FORMATS), help="the output format")
    parser.add_argument("--out", metavar="DIR", help="write the outputs here (created if missing)")
    add_block_option(parser)
    parser.add_argument("--combine", action="store_true",
                        help="one table per folder: its files' spectra as rows (csv and parquet)")
    parser.add_argument("--layout", choices=("wide", "long"),
                        help="tables: one spectrum per row (wide) or one value per row (long)")
    parser.add_argument("--force", action="store_true", help="overwrite outputs that exist")
    return parser


class Run:
    """One conversion run: where outputs go, which were written, how many inputs failed."""

    def __init__(self, args: argparse.Namespace) -> None:
        self.args = args
        self.suffix = FORMATS[args.to]
        self.out = pathlib.Path(args.out) if args.out else None
        self.written: set[pathlib.Path] = set()
        self.failures = 0

    def target(self, source: pathlib.Path, name: str) -> pathlib.Path | None:
        """Where the output of `source` goes, or None (reported) when it must not be written."""
        folder = self.out if self.out is not None else source.parent
        target = folder / (name + self.suffix)
        if target.resolve() in self.written:
            self.fail(source, f"its output {target} was already written from another input of this run")
            return None
        if target.exists() and not self.args.force:
            self.fail(source, f"{target} exists; --force overwrites it")
            return None
        return target

    def fail(self, source: object, error: object) -> None:
        report(source, error if isinstance(error, BaseException) else str(error))
        self.failures += 1

    def done(self, target: pathlib.Path) -> None:
        self.written.add(target.resolve())
        print(target)


def main(argv: list[str]) -> int:
    parser = build_parser()
    args = parse(parser, argv)
    if isinstance(args, int):
        return args
    if args.combine and args.to not in TABLE_FORMATS:
        return usage_error(parser, f"--combine makes tables: use --to csv or --to parquet, not {args.to}")
    if args.layout and args.to not in TABLE_FORMATS:
        return usage_error(parser, f"--layout applies to csv and parquet, not {args.to}")
    run = Run(args)
    if run.out is not None:
        try:
            run.out.mkdir(parents=True, exist_ok=True)
        except OSError as error:
            report(run.out, error)
            return READ_FAILED
    try:
        with quiet_metadata():
            if args.combine:
                for name in args.inputs:
                    combine_folder(run, pathlib.Path(name))
            else:
                convert_all(run, [pathlib.Path(name) for name in args.inputs])
    except BrokenPipeError:
        sys.stderr.close()  # the reader of our output went away: not our failure
    return OK if run.failures == 0 else READ_FAILED


def opus_files(folder: pathlib.Path) -> list[pathlib.Path]:
    """The OPUS files directly inside `folder`, by name; other files (earlier outputs, notes) are skipped."""
    found = []
    for path in sorted(p for p in folder.iterdir() if p.is_file()):
        try:
            if kestrel.isOpusFile(str(path)):
                found.append(path)
        except OSError:
            found.append(path)  # unreadable: let the conversion report it
    return found


def convert_all(run: Run, inputs: list[pathlib.Path]) -> None:
    files: list[pathlib.Path] = []
    for item in inputs:
        if item.is_dir():
            files.extend(opus_files(item))
        else:
            files.append(item)  # a missing file is reported when it is read
    folders = any(item.is_dir() for item in inputs)
    with Progress(folders and sys.stderr.isatty(), total=len(files), label="converting") as bar:
        for path in files:
            convert_one(run, path)
            bar.advance()


def convert_one(run: Run, path: pathlib.Path) -> None:
    target = run.target(path, path.name)
    if target is None:
        return
    try:
        block = block_of(run.args) or default_block(str(path), run.args.to)
        result = kestrel.getOpusData(str(path), block)
        _write(run.args, result, target, str(path), block)
    except CONVERT_ERRORS as error:
        run.fail(path, error)
        return
    run.done(target)


def default_block(path: str, to: str) -> Triple:
    """The file's primary block; for JCAMP-DX, which holds single spectra, its primary 2D block if it has one."""
    if to != "jdx":
        return primary_block(path)
    spectra = [b for b in kestrel.listContents(path) if b[1] == "2D"]
    return primary_block(path, blocks=spectra or None)


def _write(args: argparse.Namespace, data: Any, target: pathlib.Path, path: str | None, block: Triple | None,
           ) -> None:
    if args.to == "csv":
        write_csv(data, target, layout=args.layout)
    elif args.to == "parquet":
        write_parquet(data, target, layout=args.layout or "wide")
    elif args.to == "nc":
        write_netcdf(data, target)
    else:
        info = file_info(path, block) if path is not None and block is not None else None
        write_jcamp(data, target, info=info)


def combine_folder(run: Run, folder: pathlib.Path) -> None:
    if not folder.is_dir():
        run.fail(folder, "--combine takes folders; this is not one")
        return
    folder = folder.resolve()
    out_folder = run.out if run.out is not None else folder.parent
    target = run.target(out_folder / folder.name, folder.name)
    if target is None:
        return
    files = [str(p) for p in opus_files(folder)]
    try:
        collection = read_collection(files, block_of(run.args) or "auto", progress=sys.stderr.isatty())
    except CONVERT_ERRORS as error:
        run.fail(folder, error)
        return
    for failed_path, failure in collection.failed:
        run.fail(failed_path, failure)
    if len(collection.files) == 0:
        run.fail(folder, "no file of this folder could be read")
        return
    try:
        _write(run.args, collection, target, None, None)
    except CONVERT_ERRORS as error:
        run.fail(folder, error)
        return
    run.done(target)

