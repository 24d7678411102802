"""Stand-ins for functions that other modules of this package provide.

Each function here calls the real one when its module is present and otherwise
does the least that export, plotting and the commands need; once every module
is in, each call site can import the real one directly. Nothing here is public.
"""

from __future__ import annotations

import contextlib
import dataclasses
import datetime as dt
import importlib
import re
import sys
import warnings
from collections.abc import Iterator, Sequence
from types import ModuleType
from typing import Any

import numpy as np

import kestrel

from kestrel_tools._read_errors import READ_ERRORS

Triple = tuple[str, str, str]



def _sibling(name: str) -> ModuleType | None:
    """kestrel_tools.<name> when that module exists, else None."""
    try:
        return importlib.import_module(f"kestrel_tools.{name}")
    except ModuleNotFoundError as error:
        if error.name != f"kestrel_tools.{name}":
            raise
        return None


# ------------------------------------------------------------------ metadata

@dataclasses.dataclass(frozen=True)
class BasicInfo:
    """What the commands and writers read of a file's metadata (the fields of FileInfo they use)."""

    path: str | None
    block: Triple | None
    acquired: dt.datetime | None
    acquired_from: str | None
    sample_name: str | None
    sample_form: str | None
    operator: str | None
    instrument: str | None
    resolution: float | None
    scans: int | None
    x_unit: str | None
    y_kind: str | None
    parameters: dict[str, Any]

    def as_dict(self) -> dict[str, Any]:
        return dataclasses.asdict(self)


# TIM reads "13:34:44.641 (GMT-4)": the instrument computer's clock time and its
# offset from universal time. A time without an offset is no point in time.
_TIME = re.compile(r"^\s*(\d{1,2}):(\d{2}):(\d{2})(?:\.(\d+))?\s*(?:\((?:GMT|UTC)\s*([+-]\d{1,2})(?::?(\d{2}))?\))?")
_DATE_DMY = re.compile(r"^\s*(\d{1,2})/(\d{1,2})/(\d{4})\s*$")
_DATE_YMD = re.compile(r"^\s*(\d{4})/(\d{1,2})/(\d{1,2})\s*$")


def acquired_from_parameters(parameters: dict[str, Any]) -> dt.datetime | None:
    """The acquisition time from DAT and TIM as an aware datetime in the instrument's zone, or None.

    >>> acquired_from_parameters({"DAT": "03/05/2019", "TIM": "13:34:44.641 (GMT-4)"}).isoformat()
    '2019-05-03T13:34:44.641000-04:00'
    """
    date, time = parameters.get("DAT"), parameters.get("TIM")
    if not isinstance(date, str) or not isinstance(time, str):
        return None
    if match := _DATE_DMY.match(date):
        day, month, year = (int(g) for g in match.groups())
    elif match := _DATE_YMD.match(date):
        year, month, day = (int(g) for g in match.groups())
    else:
        return None
    clock = _TIME.match(time)
    if clock is None or clock[5] is None:
        return None
    hours, minutes, seconds = int(clock[1]), int(clock[2]), int(clock[3])
    micro = int((clock[4] or "0")[:6].ljust(6, "0"))
    try:
        offset = dt.timedelta(hours=abs(int(clock[5])), minutes=int(clock[6] or 0))
        zone = dt.timezone(-offset if clock[5].startswith("-") else offset)
        return dt.datetime(year, month, day, hours, minutes, seconds, micro, tzinfo=zone)
    except (ValueError, OverflowError):
        return None


def _text(parameters: dict[str, Any], key: str) -> str | None:
    value = parameters.get(key)
    return value.strip() or None if isinstance(value, str) else None


def info_from_parameters(parameters: dict[str, Any], *, path: str | None = None, block: Triple | None = None,
                         ) -> BasicInfo:
    """Metadata from the parameters of a result, for writers that are given a result only."""
    resolution = parameters.get("RES")
    scans = parameters.get("NSS")
    acquired = acquired_from_parameters(parameters)
    return BasicInfo(
        path=path, block=block, acquired=acquired, acquired_from="DAT/TIM" if acquired else None,
        sample_name=_text(parameters, "SNM"), sample_form=_text(parameters, "SFM"),
        operator=_text(parameters, "CNM"), instrument=_text(parameters, "INS"),
        resolution=float(resolution) if isinstance(resolution, (int, float)) else None,
        scans=scans if isinstance(scans, int) else None,
        x_unit=_text(parameters, "DXU"), y_kind=block[0] if block else None, parameters=dict(parameters))


@contextlib.contextmanager
def quiet_metadata() -> Iterator[None]:
    """Inside the block, warnings about missing or odd metadata fields are not shown.

    The commands show a missing field as empty; a warning per field and file
    would bury the lines that matter.
    """
    metadata = _sibling("metadata")
    category = getattr(metadata, "MetadataWarning", None)
    with warnings.catch_warnings():
        if isinstance(category, type) and issubclass(category, Warning):
            warnings.simplefilter("ignore", category)
        yield


def file_info(path: str, block: Triple) -> Any:
    """The metadata of one block of a file (a FileInfo, or a BasicInfo with the same field names)."""
    metadata = _sibling("metadata")
    if metadata is not None:
        return metadata.file_info(path, block)
    result = kestrel.getOpusData(path, block)
    return info_from_parameters(result.parameters, path=path, block=block)


# Data types in the order in which one of them is taken as what the file is about.
_PRIMARY_ORDER = ("AB", "TR", "KM", "ATR", "REFL", "LREFL", "RAM", "EMIS", "PAS", "ABARI", "TRARI", "POW",
                  "TRC", "SC", "SSC", "IFG", "SIFG", "PH", "SPH", "RSC", "RIFG", "RPH")


def primary_block(path: str) -> Triple:
    """The block a file is about: its first processed spectrum, preferring a 3D block of that type."""
    metadata = _sibling("metadata")
    if metadata is not None:
        block = metadata.primary_block(path)
        return (str(block[0]), str(block[1]), str(block[2]))
    blocks = kestrel.listContents(path)
    if not blocks:
        raise ValueError(f"{path}: the file holds no data block")

    def rank(triple: Triple) -> tuple[int, int, int]:
        name = triple[0]
        order = _PRIMARY_ORDER.index(name) if name in _PRIMARY_ORDER else len(_PRIMARY_ORDER)
        return (order, 0 if triple[1] == "3D" else 1, 0 if triple[2] == "NONE" else 1)

    best = min(blocks, key=rank)
    return (str(best[0]), str(best[1]), str(best[2]))


# ---------------------------------------------------------------- collections

@dataclasses.dataclass
class BasicCollection:
    """Single spectra of several files on one x axis (the fields of Collection the writers use)."""

    x: np.ndarray
    spectra: np.ndarray
    files: list[str]
    blocks: list[Triple]
    info: list[Any]
    failed: list[tuple[str, BaseException]]


def read_collection(files: Sequence[str], block: Triple | None, progress: bool = False) -> Any:
    """The spectra of `files` as one matrix; files that fail (or whose x axis differs) land in `failed`."""
    collection = _sibling("collection")
    if collection is not None:
        return collection.read_collection(list(files), block or "auto", progress=progress, on_error="collect")
    x: np.ndarray | None = None
    rows: list[np.ndarray] = []
    kept: list[str] = []
    blocks: list[Triple] = []
    info: list[Any] = []
    failed: list[tuple[str, BaseException]] = []
    bar = progress_bar(len(files), "reading") if progress else _Silent()
    for path in files:
        try:
            triple = block or primary_block(path)
            result = kestrel.getOpusData(path, triple)
            if not hasattr(result, "y"):
                raise ValueError(f"{' '.join(triple)} is not a single spectrum")
            if x is None:
                x = np.asarray(result.x, dtype=np.float64)
            elif len(result.x) != len(x) or not np.allclose(result.x, x, rtol=1e-12, atol=0.0):
                raise ValueError("its x axis differs from that of the first file")
            rows.append(np.asarray(result.y, dtype=np.float32))
            kept.append(path)
            blocks.append((str(triple[0]), str(triple[1]), str(triple[2])))
            info.append(info_from_parameters(result.parameters, path=path, block=triple))
        except READ_ERRORS as error:
            failed.append((path, error))
        bar.advance()
    bar.close()
    npoints = 0 if x is None else len(x)
    spectra = np.vstack(rows) if rows else np.empty((0, npoints), np.float32)
    return BasicCollection(x=np.empty(0) if x is None else x, spectra=spectra, files=kept, blocks=blocks,
                           info=info, failed=failed)


# -------------------------------------------------------------------- xarray

def to_xarray(data: Any) -> Any:
    """An xarray Dataset of a result or a Collection."""
    backend = _sibling("xarray_backend")
    if hasattr(data, "dataType") and backend is not None:
        labelled = backend.to_xarray(data)
    elif not hasattr(data, "dataType") and hasattr(data, "to_xarray"):
        labelled = data.to_xarray()
    else:
        from kestrel_tools.export._xarray_fallback import dataset_of
        return dataset_of(data)
    if not hasattr(labelled, "to_dataset"):
        return labelled
    dataset = labelled.to_dataset()
    dataset.attrs.update(labelled.attrs)  # the file's attributes, global in the file as well
    return dataset


# ------------------------------------------------------------------ progress

class _Counter:
    """A one-line counter on standard error."""

    def __init__(self, total: int, label: str) -> None:
        self.total, self.label, self.done = total, label, 0

    def advance(self, n: int = 1) -> None:
        self.done += n
        print(f"\r{self.label}: {self.done}/{self.total}", end="", file=sys.stderr, flush=True)

    def close(self) -> None:
        print(file=sys.stderr)


class _Silent:
    def advance(self, n: int = 1) -> None:
        pass

    def close(self) -> None:
        pass


def progress_bar(total: int, label: str) -> Any:
    """An object with advance() and close() showing progress on standard error while it is a terminal."""
    shown = sys.stderr.isatty()
    progress = _sibling("progress")
    if progress is not None:
        return progress.Progress(shown, total=total, label=label)
    return _Counter(total, label) if shown else _Silent()
