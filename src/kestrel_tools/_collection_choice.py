"""What a collection holds, decided from the first pass over its files.

The kind of spectrum most files share (what the values are and the x unit)
wins; a tie goes to the kind whose block ranks first by the primary-block rule.
With one shared axis, the axis most files of that kind share wins (a tie goes
to the axis met first). A file left out gets a reason that names what it holds,
what the collection holds and how to include it; the same facts stay in an
`Excluded` record, from which a command words its own advice.

Every comparison is written so that NaN fails: a file whose axis ends are not
finite never sets or joins an axis.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Literal

import numpy as np
import numpy.typing as npt

from kestrel_tools._collection_fill import HELD, OK, WIDTH, Survey
from kestrel_tools import model
from kestrel_tools.metadata import Triple

IntArray = npt.NDArray[np.int64]

# Axes agree when their ends differ by no more than this, relative to the larger end.
AXIS_TOLERANCE = 1e-9

Axis = tuple[int, float, float]  # (points, first x, last x)
Kind = tuple[str, str | None]  # (what the values are, x unit)


@dataclass(frozen=True)
class Excluded:
    """A readable file the collection did not take, and why."""

    path: str
    why: Literal["kind", "axis", "not finite", "no extent"]
    block: Triple
    kind: Kind
    axis: Axis


@dataclass
class Choice:
    """The files taken (indices in input order), their kind, and the axis they share (same-axis reads)."""

    members: IntArray
    kind: Kind | None
    axis: Axis | None
    excluded: list[Excluded]


def kind_of_block(block_type: str, dxu: str | None) -> Kind:
    """What a block's values are and its x unit, from the data model: ("absorbance", "cm-1")."""
    value = model.value_kind(block_type)
    return (block_type if value is None else value.name, model.x_unit(dxu).unit or None)


def describe_kind(kind: Kind) -> tuple[str, str]:
    """(one, many) in the data model's words.

    >>> describe_kind(("raman", "cm-1")), describe_kind(("single channel", None))
    (('a Raman spectrum', 'Raman spectra'), ('a single channel', 'single channels'))
    """
    value = model.VALUE_KINDS.get(kind[0]) or model.ValueKind(kind[0], kind[0], "", f"{kind[0]} spectrum")
    return value.one, value.many


def describe_axis(axis: Axis, unit: str | None) -> str:
    n, first, last = axis
    return f"{n} points from {first!r} to {last!r}" + (f" {unit}" if unit else "")


def _tolerance(axis: Axis) -> float:
    return AXIS_TOLERANCE * max(abs(axis[1]), abs(axis[2]))


def on_axis(npts: npt.NDArray[np.float64], fxv: npt.NDArray[np.float64], lxv: npt.NDArray[np.float64],
            axis: Axis) -> npt.NDArray[np.bool_]:
    """Which files have `axis`; NaN compares False, so a NaN end never matches."""
    tolerance = _tolerance(axis)
    matches: npt.NDArray[np.bool_] = ((npts == axis[0]) & (np.abs(fxv - axis[1]) <= tolerance)
                                      & (np.abs(lxv - axis[2]) <= tolerance))
    return matches


def _kind_error(block: Triple, kind: Kind, held: Kind) -> ValueError:
    one, many = describe_kind(kind)
    if kind[0] == held[0]:
        return ValueError(f"the file's x axis is in {kind[1] or 'no unit'} where most files' are in "
                          f"{held[1] or 'no unit'}: a collection holds one x unit; read this file with others "
                          "of its unit")
    theirs = describe_kind(held)[1]
    return ValueError(f"the file holds {one}{f' in {kind[1]}' if kind[1] else ''} ({' '.join(block)}) where most "
                      f"files hold {theirs}{f' in {held[1]}' if held[1] else ''}: block={block!r} collects {many}")


def choose(found: Survey, mode: Literal["same", "interpolate"]) -> Choice:
    """The files the collection takes (see the module's docstring); the others fail in `found`."""
    meta = found.meta
    readable = np.flatnonzero(np.isin(meta[:, 0], (OK, WIDTH, HELD)))
    excluded: list[Excluded] = []

    def leave_out(i: int, why: Literal["kind", "axis", "not finite", "no extent"], kind: Kind,
                  error: ValueError) -> None:
        excluded.append(Excluded(found.paths[i], why, found.block_of(i), kind,
                                 (int(meta[i, 2]), float(meta[i, 3]), float(meta[i, 4]))))
        found.fail(i, error)

    kinds = {int(i): kind_of_block(found.block_of(int(i))[0], found.unit_of(int(i))) for i in readable}
    finite = np.isfinite(meta[readable, 3]) & np.isfinite(meta[readable, 4])
    for i in readable[~finite]:
        leave_out(int(i), "not finite", kinds[int(i)],
                  ValueError(f"the x axis runs from {meta[i, 3]!r} to {meta[i, 4]!r}: its ends are not finite"))
    readable = readable[finite]
    if mode == "interpolate":
        flat = (meta[readable, 2] > 1) & (meta[readable, 3] == meta[readable, 4])
        for i in readable[flat]:
            leave_out(int(i), "no extent", kinds[int(i)],
                      ValueError(f"all {int(meta[i, 2])} points of the x axis are at {meta[i, 3]!r}: "
                                 "nothing to interpolate"))
        readable = readable[~flat]
    if readable.size == 0:
        return Choice(readable.astype(np.int64), None, None, excluded)

    # The kind most files share; ties to the best-ranked block, then to the first met.
    count: dict[Kind, int] = {}
    rank: dict[Kind, int] = {}
    for i in readable:
        kind = kinds[int(i)]
        count[kind] = count.get(kind, 0) + 1
        rank[kind] = min(rank.get(kind, 1 << 30), int(meta[i, 1]))
    held = min(count, key=lambda k: (-count[k], rank[k]))  # dicts keep the order met
    same_kind = np.array([kinds[int(i)] == held for i in readable], dtype=bool)
    for i in readable[~same_kind]:
        leave_out(int(i), "kind", kinds[int(i)], _kind_error(found.block_of(int(i)), kinds[int(i)], held))
    members = readable[same_kind]
    if mode == "interpolate":
        return Choice(members.astype(np.int64), held, None, excluded)

    axis = _majority_axis(meta[members, 2], meta[members, 3], meta[members, 4])
    taken = on_axis(meta[members, 2], meta[members, 3], meta[members, 4], axis)
    for i in members[~taken]:
        own: Axis = (int(meta[i, 2]), float(meta[i, 3]), float(meta[i, 4]))
        leave_out(int(i), "axis", held, ValueError(
            f"the x axis ({describe_axis(own, held[1])}) differs from the collection's "
            f"({describe_axis(axis, held[1])}): axis='common' puts every file on the range all of them cover"))
    return Choice(members[taken].astype(np.int64), held, axis, excluded)


def _majority_axis(npts: npt.NDArray[np.float64], fxv: npt.NDArray[np.float64],
                   lxv: npt.NDArray[np.float64]) -> Axis:
    """The axis most files share, within the tolerance; a tie goes to the axis met first."""
    keys = np.stack([npts, fxv, lxv], axis=1)
    unique, first, counts = np.unique(keys, axis=0, return_index=True, return_counts=True)
    # Exact counts find the candidates; counts within the tolerance decide among
    # the best few (two files may write one axis with different rounding).
    best: tuple[int, int, Axis] | None = None
    for j in np.argsort(-counts, kind="stable")[:8]:
        axis: Axis = (int(unique[j, 0]), float(unique[j, 1]), float(unique[j, 2]))
        matching = on_axis(npts, fxv, lxv, axis)
        score = (int(matching.sum()), -int(np.flatnonzero(matching)[0]))
        if best is None or score > best[:2]:
            best = (*score, axis)
    assert best is not None
    return best[2]
