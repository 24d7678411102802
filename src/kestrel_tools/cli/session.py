"""One run of a command: what it prints, what failed, and the exit status that follows.

Every subcommand reports through a Session, so the rules hold everywhere:
failures go to standard error as "kestrel: FILE: what is wrong" (with the full
error under --verbose); everything else is quiet under --quiet; the status is
0 when nothing failed and 1 otherwise.
"""

from __future__ import annotations

import argparse
import contextlib
import sys
import warnings
from collections.abc import Iterator, Sequence
from typing import Any

from kestrel_tools.cli.grammar import FAILED, OK
from kestrel_tools.cli.messages import report
from kestrel_tools.metadata import MetadataWarning


class Session:
    """The console and the tally of one command run."""

    def __init__(self, args: argparse.Namespace) -> None:
        self.quiet: bool = bool(getattr(args, "quiet", False))
        self.verbose: bool = bool(getattr(args, "verbose", False))
        self.failures = 0
        # With --out, what would go to standard output is kept here for the output file.
        self.captured: list[str] | None = None
        self.lines = 0  # lines of output said so far

    def fail(self, path: object, error: BaseException | str, block: Sequence[str] | None = None, *,
             count: bool = True) -> None:
        """A file, block or output that could not be done: said on standard error (even under
        --quiet) and counted, unless `count` is False (a failure already counted, said in other words)."""
        report(path, error, block, verbose=self.verbose)
        if count:
            self.failures += 1

    def fail_block(self, said: set[str], path: object, entry: dict[str, Any]) -> None:
        """A block that could not be read (a block summary with "error" and "exception"):
        said as `fail` says it unless the same words were said for this file already, in
        `said` (a cut that every block meets is said once); counted either way."""
        if entry["error"] in said:
            self.failures += 1
            return
        said.add(entry["error"])
        self.fail(path, entry["exception"], entry["block"])

    def say(self, text: str) -> None:
        """A line of the command's output: on standard output (none under --quiet), or kept for --out."""
        self.lines += 1
        if self.captured is not None:
            self.captured.append(text)
        elif not self.quiet:
            print(text)

    def note(self, path: object, text: str) -> None:
        """Something worth knowing that is not a failure, on standard error (none under --quiet)."""
        if not self.quiet:
            print(f"kestrel: {path}: {text}", file=sys.stderr)

    @property
    def status(self) -> int:
        return OK if self.failures == 0 else FAILED


@contextlib.contextmanager
def quiet_warnings() -> Iterator[None]:
    """Inside the block, warnings about missing or odd metadata fields, and numpy's
    about arithmetic on values that are not finite, are not shown.

    The commands show a missing field as empty and a NaN as nan; a warning per
    field and file would bury the lines that matter.
    """
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", MetadataWarning)
        warnings.filterwarnings("ignore", category=RuntimeWarning, module="numpy")
        yield
