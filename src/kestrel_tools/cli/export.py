"""Writes one 2D block as CSV to standard output, in the dialect of every CSV the package writes."""

from __future__ import annotations

import sys
from collections.abc import Sequence
from typing import TextIO

import kestrel

from kestrel_tools.export.csv import csv_lines


def write_csv(path: str, triple: Sequence[str], out: TextIO | None = None) -> None:
    result = kestrel.getOpusData(path, tuple(triple))
    if not hasattr(result, "y"):
        raise ValueError(f"{' '.join(triple)} is not a 2D block; CSV export takes single spectra")
    stream = out or sys.stdout
    for block in csv_lines(result):
        stream.write(block)
