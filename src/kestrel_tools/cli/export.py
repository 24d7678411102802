"""Writes one 2D block as x,y CSV."""

from __future__ import annotations

import csv
import sys
from collections.abc import Sequence
from typing import TextIO

import kestrel


def write_csv(path: str, triple: Sequence[str], out: TextIO | None = None) -> None:
    result = kestrel.getOpusData(path, tuple(triple))
    if not hasattr(result, "y"):
        raise ValueError(f"{' '.join(triple)} is not a 2D block; CSV export takes single spectra")
    writer = csv.writer(out or sys.stdout, lineterminator="\n")
    writer.writerow(["x", "y"])
    for x, y in zip(result.x.tolist(), result.y.tolist()):
        writer.writerow([repr(x), repr(y)])
